#pragma once
// SHA-256 (FIPS 180-4), so that an update report names the exact file the
// boxes were given. Incremental: Add as often as needed, then Finish once.
// One object per thread.

#include <array>
#include <cstdint>
#include <span>
#include <string>

class Sha256 final
{
public:
    Sha256();
    void Add(std::span<const std::uint8_t> data);
    std::array<std::uint8_t, 32> Finish();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> m_state;
    std::array<std::uint8_t, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;  // bytes added
};

std::string HexDigest(const std::array<std::uint8_t, 32>& digest);

struct FileDigest
{
    bool ok = false;
    std::uint64_t size = 0;
    std::string sha256;  // lower-case hex
};
// Reads the whole file; !ok when it cannot be opened or read.
FileDigest DigestFile(const std::string& path);
