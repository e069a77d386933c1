#pragma once
// The standalone TFTP server (vindle-tftpd) as a test fixture: a copy of the
// program in a temporary folder of its own, which is the server's default
// home and where it reads its INI file, started as a child process and
// stopped and cleaned away by the destructor. Used on loopback by the unit
// tests and on the lab's tool side by the lab tests.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/lab.h"

class TftpdProcess final
{
public:
    // `program` is the built vindle-tftpd.
    explicit TftpdProcess(const std::string& program);
    ~TftpdProcess();
    TftpdProcess(const TftpdProcess&) = delete;
    TftpdProcess& operator=(const TftpdProcess&) = delete;

    // The server's folder: its program, its INI file, its default home.
    const std::filesystem::path& Folder() const { return m_folder; }

    // Writes `ini` beside the program and starts it on the tool side;
    // success once it accepts requests.
    ::testing::AssertionResult Start(const std::string& ini);
    // Listens on 127.0.0.1 at a port that was free a moment before; when
    // another process took it in between, tries again with another one.
    ::testing::AssertionResult StartOnLoopback(const std::string& extraIni = {});
    // The port StartOnLoopback chose.
    std::uint16_t Port() const { return m_port; }

    // The running server (its captured output, signals, exit status).
    LabProcess& Process() { return *m_process; }
    void Stop();

private:
    std::filesystem::path m_folder;
    std::uint16_t m_port = 0;
    std::unique_ptr<LabProcess> m_process;
};

// A whole file's bytes, empty when it cannot be read: what a test compares a
// transfer's result with.
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);
