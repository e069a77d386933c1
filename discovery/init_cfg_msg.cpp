// Pure conversions between InitCfgMsg and its 52 wire bytes.

#include "discovery/init_cfg_msg.h"

#include <cstring>

std::array<std::uint8_t, CFG_MSG_SIZE> EncodeInitCfgMsg(std::uint8_t type, const std::uint8_t* pMac,
                                                        std::uint32_t ip, std::uint32_t netmask,
                                                        std::uint32_t gateway)
{
    std::array<std::uint8_t, CFG_MSG_SIZE> bytes{};
    bytes[offsetof(InitCfgMsg, type)] = type;
    if (pMac != nullptr)
        std::memcpy(&bytes[offsetof(InitCfgMsg, mac)], pMac, sizeof(InitCfgMsg::mac));
    // The addresses are already in network order; their bytes go out as they are.
    std::memcpy(&bytes[offsetof(InitCfgMsg, ip)], &ip, sizeof ip);
    std::memcpy(&bytes[offsetof(InitCfgMsg, netmask)], &netmask, sizeof netmask);
    std::memcpy(&bytes[offsetof(InitCfgMsg, gateway)], &gateway, sizeof gateway);
    return bytes;
}

std::optional<InitCfgMsg> DecodeInitCfgMsg(std::span<const std::uint8_t> data)
{
    if (data.size() < CFG_MSG_MIN_SIZE)
        return std::nullopt;
    InitCfgMsg msg;
    msg.type = data[offsetof(InitCfgMsg, type)];
    std::memcpy(msg.mac, &data[offsetof(InitCfgMsg, mac)], sizeof msg.mac);
    std::memcpy(&msg.ip, &data[offsetof(InitCfgMsg, ip)], sizeof msg.ip);
    std::memcpy(&msg.netmask, &data[offsetof(InitCfgMsg, netmask)], sizeof msg.netmask);
    // A short datagram's gateway is defined as 0, whatever its bytes 16..19 say.
    if (data.size() >= CFG_MSG_SIZE)
        std::memcpy(&msg.gateway, &data[offsetof(InitCfgMsg, gateway)], sizeof msg.gateway);
    return msg;
}
