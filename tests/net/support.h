// Helpers shared by the net/ tests.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace nettest {

// Network-order IPv4 address of dotted text.
inline std::uint32_t Ipv4(const char* pszDotted)
{
    in_addr addr{};
    inet_pton(AF_INET, pszDotted, &addr);
    return addr.s_addr;
}

}  // namespace nettest
