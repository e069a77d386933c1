// A frame payload from a box's configuration service, taken the way the
// configuration client takes it: decrypted when it is whole blocks, then
// split into fields. Also the cipher's round trip and the parameter syntax.

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "config/cfg_codec.h"
#include "config/cfg_commands.h"
#include "fuzz/fuzz_check.h"
#include "net/tcp.h"

namespace {

const BlowfishContext& BoxCipher()
{
    static const BlowfishContext cipher = [] {
        BlowfishContext c{};
        BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &c);
        return c;
    }();
    return cipher;
}

// Checks a ParseReply result against the message text it came from: the
// kind is the first keyword found in the order error, ok, status, info; an
// error carries the rest of the text, every other reply the '|'-separated
// pieces after the keyword, each cut to 255 characters.
void CheckFields(std::string_view text, const CfgFields& fields, std::uint32_t kind, std::int32_t result)
{
    text = text.substr(0, text.find('\0'));
    const char* area = &fields.m_szField[0][0];
    const std::string_view keywords[] = {"error", "ok", "status", "info"};
    std::uint32_t expectedKind = CFG_REPLY_NONE;
    std::size_t restAt = 0;
    for (std::uint32_t k = 0; k < 4; ++k) {
        const std::size_t at = text.find(keywords[k]);
        if (at != std::string_view::npos) {
            expectedKind = k + 1;
            restAt = at + keywords[k].size();
            break;
        }
    }
    FUZZ_CHECK(kind == expectedKind);
    if (kind == CFG_REPLY_NONE) {
        FUZZ_CHECK(result == 0);
        for (std::size_t i = 0; i < sizeof fields; ++i)
            FUZZ_CHECK(area[i] == 0);
        return;
    }
    const std::string_view rest = text.substr(restAt);
    if (kind == CFG_REPLY_ERROR) {
        FUZZ_CHECK(result == CFG_RESULT_ERROR);
        FUZZ_CHECK(area[sizeof fields - 1] == 0);
        const std::size_t kept = std::min(rest.size(), sizeof fields - 1);
        FUZZ_CHECK(std::string_view(area, kept) == rest.substr(0, kept));
        return;
    }

    std::vector<std::string_view> pieces;  // the text after each '|'
    for (std::size_t bar = rest.find('|'); bar != std::string_view::npos && pieces.size() < CFG_MAX_FIELDS;
         bar = rest.find('|', bar + 1)) {
        const std::size_t next = rest.find('|', bar + 1);
        pieces.push_back(rest.substr(bar + 1, next == std::string_view::npos ? next : next - bar - 1));
    }
    FUZZ_CHECK(result >= 0 && static_cast<std::size_t>(result) == pieces.size());
    for (std::uint32_t i = 0; i < CFG_MAX_FIELDS; ++i) {
        const char* field = fields.m_szField[i];
        const std::size_t length = ::strnlen(field, CFG_FIELD_SIZE);
        FUZZ_CHECK(length < CFG_FIELD_SIZE);
        if (i >= pieces.size()) {
            FUZZ_CHECK(length == 0);
            continue;
        }
        // A NUL cannot occur in the text, so the field is the piece's start.
        FUZZ_CHECK(std::string_view(field, length) == pieces[i].substr(0, CFG_FIELD_SIZE - 1));
        (void)CfgFieldToInt(field);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const BlowfishContext& cipher = BoxCipher();

    // As received: only whole blocks within the receive buffer are
    // decrypted; the text ends at its first NUL or at the payload's end.
    if (size > 0 && size % CFG_BLOCK_SIZE == 0 && size <= TCP_RECV_BUFFER_SIZE) {
        std::vector<std::uint8_t> payload(data, data + size);
        DecryptBuffer(cipher, payload.data(), static_cast<std::uint32_t>(size));
        std::string_view text(reinterpret_cast<const char*>(payload.data()), size);
        text = text.substr(0, text.find('\0'));
        CfgFields fields;
        std::uint32_t kind = 0xFFFF;
        const std::int32_t result = ParseReply(text, fields, kind);
        CheckFields(text, fields, kind, result);

        // Encrypting the decrypted blocks gives the payload back, with no
        // padding: it is whole blocks already.
        FUZZ_CHECK(EncryptBuffer(cipher, payload.data(), static_cast<std::uint32_t>(size)) == size);
        FUZZ_CHECK(std::memcmp(payload.data(), data, size) == 0);
    }

    // The input as a plain text: ParseReply on it directly, and it survives
    // padding, encryption and decryption unchanged.
    const std::string_view plain(reinterpret_cast<const char*>(data), size);
    CfgFields fields;
    std::uint32_t kind = 0xFFFF;
    const std::int32_t plainResult = ParseReply(plain, fields, kind);
    CheckFields(plain, fields, kind, plainResult);

    std::vector<std::uint8_t> buffer(CfgPayloadLength(static_cast<std::uint32_t>(size)));
    std::memcpy(buffer.data(), data, size);
    const std::uint32_t padded = EncryptBuffer(cipher, buffer.data(), static_cast<std::uint32_t>(size));
    FUZZ_CHECK(padded % CFG_BLOCK_SIZE == 0 && padded >= size && padded < size + CFG_BLOCK_SIZE);
    DecryptBuffer(cipher, buffer.data(), padded);
    FUZZ_CHECK(std::memcmp(buffer.data(), data, size) == 0);
    for (std::size_t i = size; i < padded; ++i)
        FUZZ_CHECK(buffer[i] == 0);

    // A password goes into its command whole, or there is no command.
    const std::string value(plain.substr(0, plain.find('\0')));
    const std::string expected = std::string(CMD_SET_PASSWORD) + " \"1=" + value + "\"";
    if (const auto command = BuildPasswordCommand(value))
        FUZZ_CHECK(*command == expected && command->size() < CMD_BUFFER_SIZE);
    else
        FUZZ_CHECK(expected.size() >= CMD_BUFFER_SIZE);
    return 0;
}
