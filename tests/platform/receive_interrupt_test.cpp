// A stop wakes a transfer blocked in its receive from another thread, also
// when the receive has not begun yet when the stop comes.
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "platform/datagrams.h"
#include "platform/socket.h"

using vindle::platform::InterruptReceive;
using vindle::platform::SetReceiveTimeout;

TEST(InterruptReceive, WakesAReceiveBlockedInAnotherThread)
{
    for (const bool receiveFirst : {true, false}) {
        const SOCKET socket = SocketOpen(SOCK_DGRAM, false);
        ASSERT_NE(socket, INVALID_SOCKET);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        // Far longer than the wait below: only the interrupt can end it.
        ASSERT_TRUE(SetReceiveTimeout(socket, 120));

        std::promise<void> started;
        std::promise<void> go;
        std::promise<long> received;
        std::thread receiver([&] {
            started.set_value();
            if (!receiveFirst)
                go.get_future().wait();
            char buffer[16];
            received.set_value(static_cast<long>(recv(socket, buffer, sizeof buffer, 0)));
        });
        started.get_future().wait();
        InterruptReceive(socket);
        go.set_value();
        std::future<long> result = received.get_future();
        const bool woken = result.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        EXPECT_TRUE(woken) << (receiveFirst ? "receive under way" : "receive after the interrupt");
        if (!woken) {
            // Not woken: end the receive the hard way so the thread can be joined.
            const char byte = 0;
            sockaddr_in self{};
            socklen_t length = sizeof self;
            getsockname(socket, reinterpret_cast<sockaddr*>(&self), &length);
            sendto(socket, &byte, 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof self);
        }
        receiver.join();
        closesocket(socket);
    }
}
