#pragma once
// The wire vocabulary of the discovery protocol: port, message types and the
// fixed 52-byte datagram, with pure encode/decode helpers that do no I/O.
// Every request goes to the limited broadcast address; a box answers with a
// datagram of the same layout whose type has CFG_RSP_FLAG set.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// UDP port of the protocol on both sides: the tool's endpoint is bound to it
// and every request and reply is sent to it.
inline constexpr std::uint16_t CFG_DISCOVERY_PORT = 4000;
// Every request is a broadcast: a box may sit on any address, even one
// outside the adapter's subnet.
inline constexpr const char* CFG_BROADCAST_ADDR = "255.255.255.255";

inline constexpr std::uint8_t CFG_SEARCH_REQ = 0x01;  // tool to all boxes, all fields zero
inline constexpr std::uint8_t CFG_SET_IP_REQ = 0x02;  // tool to all boxes; mac selects the box
inline constexpr std::uint8_t CFG_SEARCH_RSP = 0x81;  // box to tool: its mac, ip, netmask, gateway
inline constexpr std::uint8_t CFG_SET_IP_RSP = 0x82;  // box to tool: only its arrival matters
// Set in every message that comes from a box; a reply's type is the
// request's type with this bit set.
inline constexpr std::uint8_t CFG_RSP_FLAG = 0x80;

// Length of every message the tool sends.
inline constexpr std::size_t CFG_MSG_SIZE = 52;
// Shorter datagrams do not even cover ip and netmask; they are dropped.
inline constexpr std::size_t CFG_MSG_MIN_SIZE = 20;

// The discovery datagram. Addresses are in network byte order (first octet
// in the lowest-addressed byte), exactly as they travel; the main window also
// keeps one of these per listed box as its device record.
struct InitCfgMsg
{
    std::uint8_t type = 0;
    std::uint8_t mac[6] = {};    // first byte of the address first
    std::uint8_t reserved1 = 0;  // zero when sent, ignored when received
    std::uint32_t ip = 0;
    std::uint32_t netmask = 0;
    std::uint32_t gateway = 0;
    std::uint8_t reserved2[32] = {};  // zero when sent, ignored when received
};
static_assert(sizeof(InitCfgMsg) == CFG_MSG_SIZE);
static_assert(offsetof(InitCfgMsg, mac) == 1);
static_assert(offsetof(InitCfgMsg, ip) == 8);
static_assert(offsetof(InitCfgMsg, netmask) == 12);
static_assert(offsetof(InitCfgMsg, gateway) == 16);
static_assert(offsetof(InitCfgMsg, reserved2) == 20);

// The 52 bytes of a message: type, mac (or zeros when pMac is null) and the
// three addresses copied unchanged; every reserved byte is zero.
std::array<std::uint8_t, CFG_MSG_SIZE> EncodeInitCfgMsg(std::uint8_t type, const std::uint8_t* pMac,
                                                        std::uint32_t ip, std::uint32_t netmask,
                                                        std::uint32_t gateway);

// Reads a received datagram. Returns nullopt for one shorter than
// CFG_MSG_MIN_SIZE (nothing beyond its end is read); a datagram shorter than
// CFG_MSG_SIZE carries no gateway, which then reads as 0. Bytes beyond 52 are
// ignored, and so are the reserved bytes.
std::optional<InitCfgMsg> DecodeInitCfgMsg(std::span<const std::uint8_t> data);
