// vindle-box: plays one or more boxes for Vindle's tests, demo and training.
// The main thread parses the options, starts every service on its own
// thread, waits for SIGINT/SIGTERM or the end of --lifetime and stops the
// services again.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <pthread.h>

#include "box_config_service.h"
#include "box_discovery.h"
#include "box_log.h"
#include "box_options.h"
#include "box_service.h"
#include "box_state.h"
#include "box_update_download.h"

namespace {

// Blocks until SIGINT or SIGTERM arrives or the lifetime is over.
void WaitForEnd(const sigset_t& signals, const BoxOptions& options)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += options.lifetimeSeconds.value_or(0);
    for (;;) {
        int signal = 0;
        if (!options.lifetimeSeconds) {
            if (sigwait(&signals, &signal) == 0) {
                BoxLog("box: signal %d, stopping", signal);
                return;
            }
            continue;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        timespec left{deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
        if (left.tv_nsec < 0) {
            left.tv_nsec += 1000000000L;
            --left.tv_sec;
        }
        if (left.tv_sec < 0) {
            BoxLog("box: lifetime over, stopping");
            return;
        }
        signal = sigtimedwait(&signals, nullptr, &left);
        if (signal > 0) {
            BoxLog("box: signal %d, stopping", signal);
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    BoxOptions options;
    std::string error;
    switch (ParseBoxOptions(argc, argv, options, error)) {
    case BoxParse::Help:
        return 0;
    case BoxParse::Error:
        std::fprintf(stderr, "vindle-box: %s\nTry 'vindle-box --help'.\n", error.c_str());
        return 2;
    case BoxParse::Run:
        break;
    }

    ConfigureUpdateDownload(options);

    auto state = MakeBoxState(options, error);
    if (!state) {
        std::fprintf(stderr, "vindle-box: %s\n", error.c_str());
        return 2;
    }

    // The signals are taken by the main thread alone; every service thread
    // inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    const BoxIdentity first = state->Get(0);
    BoxLog("box: %zu box(es) on %s, first %s %s/%s gw %s", state->Count(),
           state->InterfaceName().empty() ? "*" : state->InterfaceName().c_str(),
           FormatMac(first.mac, MacStyle::Dashes).c_str(), FormatIpv4(first.ip).c_str(),
           FormatIpv4(first.netmask).c_str(), FormatIpv4(first.gateway).c_str());

    std::vector<std::unique_ptr<BoxService>> services;
    services.push_back(std::make_unique<BoxDiscovery>(options, *state));
    if (options.configService)
        services.push_back(std::make_unique<BoxConfigService>(options, *state));

    int status = 0;
    std::size_t started = 0;
    for (; started < services.size(); ++started) {
        if (!services[started]->Start(error)) {
            std::fprintf(stderr, "vindle-box: %s: %s\n", services[started]->Name(), error.c_str());
            BoxLog("box: %s failed to start: %s", services[started]->Name(), error.c_str());
            status = 1;
            break;
        }
    }
    if (status == 0)
        WaitForEnd(signals, options);
    while (started > 0)
        services[--started]->Stop();
    BoxLog("box: stopped");
    return status;
}
