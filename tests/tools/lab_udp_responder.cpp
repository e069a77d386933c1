// A minimal stand-in for a box in the lab's own tests: listens on a UDP port
// of every address (so it hears 255.255.255.255) and answers each datagram by
// unicast to its sender with "box <LAB_BOX_INDEX> <payload>". Prints
// "listening <port>" once bound so that a test can wait for it, and ends by
// itself after --seconds (default 10) so that it can never linger.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    int port = 0;
    int seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atoi(argv[i + 1]);
    }
    if (port <= 0 || port > 65535 || seconds <= 0) {
        std::fprintf(stderr, "usage: lab_udp_responder --port P [--seconds S]\n");
        return 2;
    }
    const char* index = std::getenv("LAB_BOX_INDEX");
    const std::string name = std::string("box ") + (index ? index : "?");

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("socket");
        return 1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        return 1;
    }
    std::printf("listening %d\n", port);
    std::fflush(stdout);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[1500];
        sockaddr_in peer{};
        socklen_t peerLen = sizeof peer;
        ssize_t got = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerLen);
        if (got < 0)
            continue;
        const std::string answer = name + " " + std::string(buffer, static_cast<std::size_t>(got));
        if (sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&peer), peerLen) < 0)
            std::perror("sendto");
        char from[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, from, sizeof from);
        std::printf("answered %s:%d\n", from, ntohs(peer.sin_port));
        std::fflush(stdout);
    }
    close(fd);
    return 0;
}
