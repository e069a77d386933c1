#pragma once
// What the simulated boxes are right now: one record per played box with its
// MAC and its current address, netmask and gateway. Every service of the box
// process reads it; the discovery responder changes it on set-IP. All members
// are safe to call from any thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "box_options.h"

struct BoxIdentity
{
    MacAddress mac{};
    std::uint32_t ip = 0;       // network byte order
    std::uint32_t netmask = 0;  // network byte order
    std::uint32_t gateway = 0;  // network byte order
};

class BoxState final
{
public:
    BoxState(std::string interfaceName, std::vector<BoxIdentity> boxes,
             const std::string& firmware = "fw-1.0");

    // The interface the boxes live on; empty when none was found.
    const std::string& InterfaceName() const { return m_interfaceName; }
    std::size_t Count() const { return m_count; }
    BoxIdentity Get(std::size_t index) const;
    std::optional<std::size_t> FindByMac(const MacAddress& mac) const;
    void SetAddresses(std::size_t index, std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway);
    // The firmware a box reports in its "info" message; an update changes it.
    std::string Firmware(std::size_t index) const;
    void SetFirmware(std::size_t index, const std::string& firmware);
    // While a reboot lasts the box is away for every service: it answers
    // neither searches nor set-IP requests.
    void SetAway(bool away) { m_away.store(away); }
    bool IsAway() const { return m_away.load(); }

private:
    const std::string m_interfaceName;
    const std::size_t m_count;
    mutable std::mutex m_mutex;
    std::vector<BoxIdentity> m_boxes;
    std::vector<std::string> m_firmware;
    std::atomic<bool> m_away{false};
};

// Builds the played boxes from the options: box k (0-based) has MAC base+k
// and address base+k; what the options leave open comes from the interface
// (named, or the first one up with an IPv4 address that is not loopback).
// Returns null with a reason when the first box has no MAC or address.
std::unique_ptr<BoxState> MakeBoxState(const BoxOptions& options, std::string& error);
