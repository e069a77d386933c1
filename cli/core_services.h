#pragma once
// The core behind vindlectl's interfaces: a BoxSession over CCfgClt, an
// UpdateFileServer over the process's TFTP server, the discovery search on
// one adapter, and socket probes. These are the only files of cli/ that
// know the core's calling conventions.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/box_session.h"
#include "cli/report.h"
#include "cli/targets.h"
#include "cli/update_file_server.h"
#include "discovery/init_cfg.h"

std::unique_ptr<BoxSession> MakeCfgBoxSession();
enum class ServerLines
{
    Hidden,
    ToStandardError,  // the server's own report lines, for --verbose
};
std::unique_ptr<UpdateFileServer> MakeTftpFileServer(ServerLines lines);

// A discovery endpoint on one adapter that collects every reply. Searches
// may be started from several threads at once; each waits for its own.
class FleetSearch final : public CInitCfg
{
public:
    FleetSearch(std::uint32_t adapterIp, std::string adapterName);
    ~FleetSearch() override;

    // Broadcasts a search and returns the replies of the next `wait`.
    std::vector<FoundBox> Search(std::chrono::milliseconds wait);
    // Broadcasts a search; true as soon as the box at ip answers.
    bool Answers(std::uint32_t ip, std::chrono::milliseconds timeout);
    // Sends a set-IP request to mac; true when that box replied in time.
    bool SetIp(const MacBytes& mac, std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway,
               std::chrono::milliseconds timeout);

    void OnSearchReply(std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway,
                       const std::uint8_t* pMac) override;
    void OnSetIpReply(std::uint32_t ip, std::uint32_t netmask, std::uint32_t gateway,
                      const std::uint8_t* pMac) override;

private:
    const std::string m_adapter;
    const std::uint32_t m_adapterIp;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<FoundBox> m_replies;       // every search reply, in order
    std::vector<std::string> m_setIpMacs;  // every set-IP reply's MAC
};

// Binds a UDP socket to (ip, port) to see whether a server could: 0, or
// the errno of the failed bind.
int ProbeUdpBind(std::uint32_t ip, std::uint16_t port);
// Which of the addresses accept a TCP connection on port within the time
// (all tried at once).
std::vector<bool> ProbeTcp(const std::vector<std::uint32_t>& ips, std::uint16_t port,
                           std::chrono::milliseconds timeout);
