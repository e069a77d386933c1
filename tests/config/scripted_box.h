// The box's end of a configuration connection for loopback tests: raw
// sockets and a framing of its own, so that a fault in the client's framing
// cannot be mirrored by the test; only the cipher is shared, and that is
// pinned by the published vectors in blowfish_test.cpp. Test thread only.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/cfg_codec.h"
#include "tests/common/wait.h"

namespace cfgtest {

// The box's end of one connection, scripted by the test.
class ScriptedBox final
{
public:
    ScriptedBox()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listener, 4);
        socklen_t length = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &length);
        m_port = ntohs(addr.sin_port);
        BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &m_cipher);
    }
    ~ScriptedBox()
    {
        Close();
        ::close(m_listener);
    }

    std::uint16_t Port() const { return m_port; }

    bool Accept()
    {
        pollfd fd{m_listener, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(WAIT.count())) != 1) {
            return false;
        }
        m_conn = ::accept(m_listener, nullptr, nullptr);
        return m_conn >= 0;
    }

    void Close()
    {
        if (m_conn >= 0) {
            ::close(m_conn);
            m_conn = -1;
        }
    }

    void SendRaw(const std::string& bytes) const
    {
        ASSERT_EQ(::send(m_conn, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Frames raw payload bytes with the 2-byte little-endian length.
    void SendPayload(const std::string& payload) const
    {
        std::string frame;
        frame += static_cast<char>(payload.size() & 0xFF);
        frame += static_cast<char>(payload.size() >> 8);
        SendRaw(frame + payload);
    }

    // A message as the box sends it: text, NUL, zero padding, encrypted.
    void SendText(const std::string& text) const
    {
        std::vector<std::uint8_t> buffer(text.size() + 8, 0);
        std::memcpy(buffer.data(), text.data(), text.size());
        const auto length =
            EncryptBuffer(m_cipher, buffer.data(), static_cast<std::uint32_t>(text.size() + 1));
        SendPayload(std::string(reinterpret_cast<char*>(buffer.data()), length));
    }

    // The next frame's raw bytes, length included; nullopt when nothing came.
    std::optional<std::string> ReadFrame(std::chrono::milliseconds timeout = WAIT) const
    {
        const std::string header = Read(2, timeout);
        if (header.size() < 2) {
            return std::nullopt;
        }
        const std::size_t length = static_cast<std::uint8_t>(header[0]) | static_cast<std::uint8_t>(header[1])
                                                                              << 8;
        return header + Read(length, timeout);
    }

    // The decrypted payload of the next frame, padding included.
    std::string ReadPlainPayload() const
    {
        const auto frame = ReadFrame();
        if (!frame || frame->size() < 2) {
            return {};
        }
        std::string payload = frame->substr(2);
        DecryptBuffer(m_cipher, reinterpret_cast<std::uint8_t*>(payload.data()),
                      static_cast<std::uint32_t>(payload.size()));
        return payload;
    }

    bool WaitForEnd() const
    {
        const auto deadline = std::chrono::steady_clock::now() + WAIT;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd fd{m_conn, POLLIN, 0};
            if (::poll(&fd, 1, 10) == 1) {
                char chunk[4096];
                if (::recv(m_conn, chunk, sizeof chunk, 0) <= 0) {
                    return true;
                }
            }
        }
        return false;
    }

    int Fd() const { return m_conn; }

private:
    std::string Read(std::size_t count, std::chrono::milliseconds timeout) const
    {
        std::string bytes;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (bytes.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{m_conn, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) != 1) {
                break;
            }
            char chunk[4096];
            const ssize_t n = ::recv(m_conn, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
            if (n <= 0) {
                break;
            }
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
        return bytes;
    }

    int m_listener = -1;
    int m_conn = -1;
    std::uint16_t m_port = 0;
    BlowfishContext m_cipher{};
};

}  // namespace cfgtest
