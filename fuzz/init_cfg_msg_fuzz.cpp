// Discovery datagrams as they arrive from any host on the segment.

#include <cstring>

#include "discovery/init_cfg_msg.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> datagram(data, size);
    const std::optional<InitCfgMsg> msg = DecodeInitCfgMsg(datagram);
    FUZZ_CHECK(msg.has_value() == (size >= CFG_MSG_MIN_SIZE));
    if (!msg)
        return 0;

    // Encoding what was decoded gives the datagram back with its reserved
    // bytes cleared; a short datagram has no gateway, so it comes back as 0.
    const auto bytes = EncodeInitCfgMsg(msg->type, msg->mac, msg->ip, msg->netmask, msg->gateway);
    std::uint8_t expected[CFG_MSG_SIZE] = {};
    std::memcpy(expected, data, size < CFG_MSG_SIZE ? size : CFG_MSG_SIZE);
    expected[offsetof(InitCfgMsg, reserved1)] = 0;
    std::memset(expected + offsetof(InitCfgMsg, reserved2), 0, sizeof(InitCfgMsg::reserved2));
    if (size < CFG_MSG_SIZE)
        std::memset(expected + offsetof(InitCfgMsg, gateway), 0, sizeof(InitCfgMsg::gateway));
    FUZZ_CHECK(std::memcmp(bytes.data(), expected, CFG_MSG_SIZE) == 0);

    // And decoding that encoding is the same message again.
    const std::optional<InitCfgMsg> again = DecodeInitCfgMsg(bytes);
    FUZZ_CHECK(again && again->type == msg->type && std::memcmp(again->mac, msg->mac, sizeof msg->mac) == 0 &&
               again->ip == msg->ip && again->netmask == msg->netmask && again->gateway == msg->gateway);
    return 0;
}
