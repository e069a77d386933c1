#pragma once
// Command line of vindle-box, the simulated box. One record holds every
// option; the parser is a table of rows (name, argument, help text, handler),
// so a new option is one new field and one new row in box_options.cpp.

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "box_update.h"
#include "net/address_text.h"

using MacAddress = std::array<std::uint8_t, 6>;

enum class ReplyMode
{
    Unicast,    // to the requester's address
    Broadcast,  // to 255.255.255.255, as a box outside the requester's subnet must
};

struct BoxOptions
{
    // Identity and addresses of the first played box (addresses in network
    // byte order). Left empty, they are taken from the interface.
    std::string interfaceName;
    std::optional<MacAddress> mac;
    std::optional<std::uint32_t> ip;
    std::optional<std::uint32_t> netmask;
    std::optional<std::uint32_t> gateway;
    unsigned count = 1;

    // Discovery responder.
    std::uint16_t discoveryPort = 4000;
    ReplyMode replyMode = ReplyMode::Unicast;
    unsigned replyDelayMs = 0;
    bool changeInterface = true;

    // Configuration service (box_config_service.h).
    bool configService = true;
    std::uint16_t configPort = 1000;
    // Address the service listens on (network byte order); only tests on
    // loopback set it, the command line always listens on every address.
    std::uint32_t configBindIp = 0;
    std::string infoField = "vindle-box";  // ninth "|" field of "info"
    unsigned statusIntervalMs = 0;         // 0: no "status" messages
    unsigned rebootMs = 3000;
    // A frame that has begun must be complete within this time, or the
    // connection is closed: a peer cannot hold a connection by trickling.
    unsigned frameTimeoutMs = 30000;
    std::string firmware = "fw-1.0";            // sixth "|" field of "info"
    std::optional<std::string> updateFirmware;  // the firmware after an update
    bool rebootAfterUpdate = false;             // reboot after "ok" to an update
    BoxUpdateVerdict updateAnswer = BoxUpdateVerdict::Ok;
    std::string updateError = "Update fehlgeschlagen";
    unsigned updateDelayMs = 0;

    // Update download (box_update.cpp): FILE is fetched by TFTP before the
    // answer. The server defaults to the tool that sent the command.
    bool updateDownload = true;
    std::optional<std::uint32_t> tftpServer;  // network byte order
    std::uint16_t tftpPort = 69;
    bool updateNoOptions = false;  // plain request without blksize/tsize
    std::uint32_t updateBlksize = 1428;
    std::string updateDir;               // keep downloaded files here
    std::uint16_t updateWindowsize = 1;  // RFC 7440; 1: not asked for
    unsigned updateAckDelayMs = 0;       // before each ACK of a download

    // Process.
    std::optional<unsigned> lifetimeSeconds;
};

enum class BoxParse
{
    Run,    // options are in the record
    Help,   // --help was given; the usage text has been printed
    Error,  // the error text says what is wrong
};

BoxParse ParseBoxOptions(int argc, char** argv, BoxOptions& options, std::string& error);
void PrintBoxUsage(std::FILE* out);

// "02:77:00:00:00:02" or "02-77-00-00-00-02".
std::optional<MacAddress> ParseMac(const std::string& text);
