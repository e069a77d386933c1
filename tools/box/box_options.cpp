// vindle-box option table, parser and help text.

#include "box_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <arpa/inet.h>

namespace {

struct OptionRow
{
    const char* name;      // without the leading "--"
    const char* argument;  // null for a flag
    const char* help;
    // Takes the argument (empty for a flag); returns an error text or "".
    std::function<std::string(BoxOptions&, const std::string&)> apply;
};

std::optional<std::uint32_t> ParseIp(const std::string& text)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return std::nullopt;
    return address.s_addr;
}

std::optional<unsigned long> ParseNumber(const std::string& text, unsigned long max)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > max)
        return std::nullopt;
    return value;
}

std::function<std::string(BoxOptions&, const std::string&)>
AddressInto(std::optional<std::uint32_t> BoxOptions::*field)
{
    return [field](BoxOptions& options, const std::string& text) -> std::string {
        const auto ip = ParseIp(text);
        if (!ip)
            return "not an IPv4 address: " + text;
        options.*field = *ip;
        return "";
    };
}

// Why TEXT cannot be a field of the "info" message, or "" when it can.
std::string InfoFieldProblem(const char* option, const std::string& v)
{
    if (v.find('|') != std::string::npos || v.size() > 200)
        return std::string(option) + " must be at most 200 characters without \"|\": " + v;
    // The tool looks for "error", "ok" and "status" anywhere in a message
    // before it looks for "info"; any of them in a field would turn the
    // box's greeting into another kind of message.
    for (const char* keyword : {"error", "ok", "status"}) {
        if (v.find(keyword) != std::string::npos)
            return std::string(option) + " must not contain \"" + keyword +
                   "\", or the tool would not read \"info\": " + v;
    }
    return "";
}

const std::vector<OptionRow>& Rows()
{
    static const std::vector<OptionRow> rows = {
        {"interface", "IFNAME",
         "interface the box lives on (default: the first interface that is up,\n"
         "has an IPv4 address and is not loopback); its MAC and address are the\n"
         "defaults of --mac and --ip, and replies leave through it",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (v.empty() || v.size() >= 16)
                 return "bad interface name: " + v;
             o.interfaceName = v;
             return "";
         }},
        {"mac", "MAC", "MAC of the (first) box, 02:77:00:00:00:02 or 02-77-00-00-00-02",
         [](BoxOptions& o, const std::string& v) -> std::string {
             o.mac = ParseMac(v);
             return o.mac ? "" : "not a MAC address: " + v;
         }},
        {"ip", "ADDR", "IPv4 address of the (first) box", AddressInto(&BoxOptions::ip)},
        {"netmask", "ADDR", "netmask (default: the interface's, else 255.255.255.0)",
         AddressInto(&BoxOptions::netmask)},
        {"gateway", "ADDR", "default gateway (default 0.0.0.0)", AddressInto(&BoxOptions::gateway)},
        {"count", "N",
         "play N boxes (1..65536); box k (0-based) has MAC base+k and address\n"
         "base+k, and only a single box ever changes the interface",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 65536);
             if (!n || *n == 0)
                 return "--count needs a number from 1 to 65536: " + v;
             o.count = static_cast<unsigned>(*n);
             return "";
         }},
        {"reply", "MODE",
         "how replies travel: unicast (to the requester, default) or broadcast\n"
         "(to 255.255.255.255, as a box outside the requester's subnet must)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (v == "unicast")
                 o.replyMode = ReplyMode::Unicast;
             else if (v == "broadcast")
                 o.replyMode = ReplyMode::Broadcast;
             else
                 return "--reply is unicast or broadcast: " + v;
             return "";
         }},
        {"reply-delay", "MS", "wait MS milliseconds before answering a request (default 0)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 600000);
             if (!n)
                 return "--reply-delay needs milliseconds (0..600000): " + v;
             o.replyDelayMs = static_cast<unsigned>(*n);
             return "";
         }},
        {"discovery-port", "PORT", "UDP port of discovery, bound and answered to (default 4000)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 65535);
             if (!n || *n == 0)
                 return "--discovery-port needs a port from 1 to 65535: " + v;
             o.discoveryPort = static_cast<std::uint16_t>(*n);
             return "";
         }},
        {"no-interface-change", nullptr,
         "on a set-IP request only the box's record changes, not the interface",
         [](BoxOptions& o, const std::string&) -> std::string {
             o.changeInterface = false;
             return "";
         }},
        {"no-config", nullptr, "do not run the configuration service",
         [](BoxOptions& o, const std::string&) -> std::string {
             o.configService = false;
             return "";
         }},
        {"config-port", "PORT", "TCP port of the configuration service (default 1000)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 65535);
             if (!n || *n == 0)
                 return "--config-port needs a port from 1 to 65535: " + v;
             o.configPort = static_cast<std::uint16_t>(*n);
             return "";
         }},
        {"info-field", "TEXT",
         "ninth \"|\" field of the \"info\" message, which the tool sends back with\n"
         "every update command (default vindle-box)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (std::string problem = InfoFieldProblem("--info-field", v); !problem.empty())
                 return problem;
             o.infoField = v;
             return "";
         }},
        {"firmware", "TEXT", "sixth \"|\" field of the \"info\" message (default fw-1.0)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (std::string problem = InfoFieldProblem("--firmware", v); !problem.empty())
                 return problem;
             o.firmware = v;
             return "";
         }},
        {"status-interval", "MS", "send \"status|a|100\" every MS milliseconds (default 0: never)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 600000);
             if (!n)
                 return "--status-interval needs milliseconds (0..600000): " + v;
             o.statusIntervalMs = static_cast<unsigned>(*n);
             return "";
         }},
        {"reboot-time", "MS",
         "after \"appcfg cmd c=2\" (and, with --reboot-after-update, after \"ok\" to\n"
         "an update) the box is away for MS milliseconds: no configuration\n"
         "service and no discovery answers (default 3000)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 600000);
             if (!n)
                 return "--reboot-time needs milliseconds (0..600000): " + v;
             o.rebootMs = static_cast<unsigned>(*n);
             return "";
         }},
        {"reboot-after-update", nullptr,
         "reboot after answering \"ok\" to an update, as a real box does; it comes\n"
         "back after --reboot-time",
         [](BoxOptions& o, const std::string&) -> std::string {
             o.rebootAfterUpdate = true;
             return "";
         }},
        {"update-firmware", "TEXT",
         "after \"ok\" to an update the box reports TEXT as its firmware in the\n"
         "\"info\" message of every later connection (default: unchanged)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (std::string problem = InfoFieldProblem("--update-firmware", v); !problem.empty())
                 return problem;
             o.updateFirmware = v;
             return "";
         }},
        {"frame-timeout", "MS",
         "close a connection whose frame is not complete MS milliseconds after\n"
         "it began (default 30000); at most 64 connections are served at once,\n"
         "a further one is closed at once",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 3600000);
             if (!n || *n == 0)
                 return "--frame-timeout needs milliseconds (1..3600000): " + v;
             o.frameTimeoutMs = static_cast<unsigned>(*n);
             return "";
         }},
        {"update-answer", "MODE",
         "answer to the update commands c=3, c=6, c=7: ok (default), error (with\n"
         "--update-error) or drop (close the connection without an answer)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (v == "ok")
                 o.updateAnswer = BoxUpdateVerdict::Ok;
             else if (v == "error")
                 o.updateAnswer = BoxUpdateVerdict::Error;
             else if (v == "drop")
                 o.updateAnswer = BoxUpdateVerdict::Drop;
             else
                 return "--update-answer is ok, error or drop: " + v;
             return "";
         }},
        {"update-error", "TEXT", "reason sent with an \"error\" answer to an update",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (v.size() > 1000)
                 return "--update-error is too long";
             o.updateError = v;
             return "";
         }},
        {"update-delay", "MS", "wait MS milliseconds before answering an update (default 0)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 3600000);
             if (!n)
                 return "--update-delay needs milliseconds (0..3600000): " + v;
             o.updateDelayMs = static_cast<unsigned>(*n);
             return "";
         }},
        {"no-update-download", nullptr, "answer update commands without fetching the file by TFTP",
         [](BoxOptions& o, const std::string&) -> std::string {
             o.updateDownload = false;
             return "";
         }},
        {"tftp-server", "IP",
         "fetch update files from this address (default: the tool that sent\n"
         "the update command)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             in_addr address{};
             if (inet_pton(AF_INET, v.c_str(), &address) != 1 || address.s_addr == 0)
                 return "--tftp-server needs an IPv4 address: " + v;
             o.tftpServer = address.s_addr;
             return "";
         }},
        {"tftp-port", "PORT", "UDP port of the TFTP server for updates (default 69)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 65535);
             if (!n || *n == 0)
                 return "--tftp-port needs a port from 1 to 65535: " + v;
             o.tftpPort = static_cast<std::uint16_t>(*n);
             return "";
         }},
        {"update-no-options", nullptr,
         "fetch update files with a plain read request, without blksize and tsize",
         [](BoxOptions& o, const std::string&) -> std::string {
             o.updateNoOptions = true;
             return "";
         }},
        {"update-blksize", "N", "block size asked for when fetching updates (8..65464, default 1428)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 65464);
             if (!n || *n < 8)
                 return "--update-blksize needs a block size from 8 to 65464: " + v;
             o.updateBlksize = static_cast<std::uint32_t>(*n);
             return "";
         }},
        {"update-dir", "DIR", "keep each downloaded update file in DIR",
         [](BoxOptions& o, const std::string& v) -> std::string {
             if (v.empty())
                 return "--update-dir needs a folder";
             o.updateDir = v;
             return "";
         }},
        {"update-windowsize", "N",
         "ask for a window of N blocks when fetching updates (RFC 7440, 1..65535,\n"
         "default 1: not asked); acknowledges every N-th block and the last, and\n"
         "on a gap the last block received in order",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 65535);
             if (!n || *n == 0)
                 return "--update-windowsize needs a window from 1 to 65535: " + v;
             o.updateWindowsize = static_cast<std::uint16_t>(*n);
             return "";
         }},
        {"update-ack-delay", "MS",
         "wait MS milliseconds before each acknowledgment of an update download,\n"
         "as a slow box does (default 0)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 60000);
             if (!n)
                 return "--update-ack-delay needs milliseconds (0..60000): " + v;
             o.updateAckDelayMs = static_cast<unsigned>(*n);
             return "";
         }},
        {"lifetime", "SECONDS", "end by itself after SECONDS (default: run until SIGINT/SIGTERM)",
         [](BoxOptions& o, const std::string& v) -> std::string {
             const auto n = ParseNumber(v, 86400);
             if (!n || *n == 0)
                 return "--lifetime needs seconds (1..86400): " + v;
             o.lifetimeSeconds = static_cast<unsigned>(*n);
             return "";
         }},
    };
    return rows;
}

}  // namespace

std::optional<MacAddress> ParseMac(const std::string& text)
{
    MacAddress mac{};
    if (text.size() != 17)
        return std::nullopt;
    const char separator = text[2];
    if (separator != ':' && separator != '-')
        return std::nullopt;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t at = i * 3;
        if (i > 0 && text[at - 1] != separator)
            return std::nullopt;
        unsigned value = 0;
        for (std::size_t j = at; j < at + 2; ++j) {
            const char c = text[j];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                return std::nullopt;
            value = value * 16 + digit;
        }
        mac[i] = static_cast<std::uint8_t>(value);
    }
    return mac;
}

void PrintBoxUsage(std::FILE* out)
{
    std::fprintf(out, "Usage: vindle-box [OPTION]...\n"
                      "Plays one or more network boxes for Vindle: answers discovery searches\n"
                      "and set-IP requests on UDP (port 4000 unless --discovery-port), runs\n"
                      "the encrypted configuration service on TCP (port 1000 unless\n"
                      "--config-port) and, on an update command, fetches the named file by\n"
                      "TFTP from the tool (port 69 unless --tftp-port) before it answers.\n"
                      "Logs one line per event to standard output, with control characters\n"
                      "in what peers send written as \\xNN. Runs until SIGINT or SIGTERM, or\n"
                      "until --lifetime ends it. Run it only inside an isolated network\n"
                      "namespace (the lab): it binds and broadcasts on its interface.\n"
                      "\nOptions:\n");
    for (const OptionRow& row : Rows()) {
        std::string head = std::string("  --") + row.name;
        if (row.argument != nullptr)
            head += std::string(" ") + row.argument;
        std::fprintf(out, "%-26s", head.c_str());
        if (head.size() >= 26)
            std::fprintf(out, "\n%-26s", "");
        for (const char* c = row.help; *c != '\0'; ++c) {
            std::fputc(*c, out);
            if (*c == '\n')
                std::fprintf(out, "%-26s", "");
        }
        std::fputc('\n', out);
    }
    std::fprintf(out, "%-26s%s\n", "  --help", "show this text and exit");
    std::fprintf(out, "\nExamples:\n"
                      "  vindle-box                         one box with its interface's MAC and address\n"
                      "  vindle-box --ip 192.168.5.10 --reply broadcast\n"
                      "                                     a box outside the tool's subnet\n"
                      "  vindle-box --count 1000 --mac 02:00:00:00:10:00 --ip 10.99.0.1\n"
                      "                                     a thousand boxes answering every search\n"
                      "\nExit status: 0 after a signal or the lifetime, 2 for a bad command line,\n"
                      "1 when a service cannot start.\n");
}

BoxParse ParseBoxOptions(int argc, char** argv, BoxOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            PrintBoxUsage(stdout);
            return BoxParse::Help;
        }
        if (word.rfind("--", 0) != 0) {
            error = "unexpected argument: " + word;
            return BoxParse::Error;
        }
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const OptionRow* match = nullptr;
        for (const OptionRow& row : Rows()) {
            if (name == row.name)
                match = &row;
        }
        if (match == nullptr) {
            error = "unknown option: --" + name;
            return BoxParse::Error;
        }
        std::string value;
        if (match->argument != nullptr) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                error = "--" + name + " needs " + match->argument;
                return BoxParse::Error;
            }
        } else if (inlineValue) {
            error = "--" + name + " takes no value";
            return BoxParse::Error;
        }
        error = match->apply(options, value);
        if (!error.empty())
            return BoxParse::Error;
    }
    return BoxParse::Run;
}
