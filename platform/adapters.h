// The system's network adapters as two tables: links and their IPv4
// addresses. The codes in AdapterLink are the side's own (Linux: ARPHRD_*,
// IF_OPER_*, IFF_*; Windows: IF_TYPE_*, IfOperStatus); AdapterTypeName and
// AdapterLinkIsUp read them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AdapterLink
{
    int index = 0;
    std::string name;
    std::string alias;
    std::vector<std::uint8_t> hwAddress;
    unsigned short hwType = 0;    // Linux ARPHRD_*, Windows IF_TYPE_*
    unsigned char operState = 0;  // Linux IF_OPER_*, Windows IfOperStatus
    unsigned int flags = 0;       // Linux IFF_*; 0 on Windows
};

struct AdapterAddress
{
    int index = 0;              // the link that carries it
    std::uint32_t address = 0;  // network byte order
    std::uint32_t netmask = 0;  // network byte order
};

// Type name for a link type ("Ethernet", "Loopback", ...).
const char* AdapterTypeName(unsigned short hwType);

// True when the link is operational.
bool AdapterLinkIsUp(const AdapterLink& link);

// Reads the tables (on Linux those of the calling thread's network
// namespace). False when the system could not be asked; the vectors are then empty.
bool ReadAdapterTables(std::vector<AdapterAddress>& addresses, std::vector<AdapterLink>& links);
