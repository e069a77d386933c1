// Text-mode translation over file contents and received data of any kind,
// handed over in blocks of any size, as a transfer meets them.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tftp/netascii.h"

namespace {

constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t LF = 0x0A;
constexpr std::uint8_t END_OF_TEXT = 0x1A;

using Bytes = std::vector<std::uint8_t>;

// Reads `file` as a read transfer does: the file arrives in chunks of
// `inChunk` bytes, the output leaves in blocks of `outBlock` bytes.
Bytes ReadAsText(const Bytes& file, std::size_t inChunk, std::size_t outBlock)
{
    TextReadState state;
    Bytes wire;
    wire.reserve(file.size());
    std::vector<std::uint8_t> block(outBlock);
    std::size_t fileAt = 0;
    while (!state.ended) {
        const std::size_t inEnd = std::min(file.size(), fileAt + inChunk);
        const bool atEof = inEnd == file.size();
        const std::span<const std::uint8_t> in(file.data() + fileAt, inEnd - fileAt);
        const TextReadStep step = TextModeRead(state, in, block, atEof);
        FUZZ_CHECK(step.consumed <= in.size() && step.produced <= block.size());
        // A call that can move makes progress, or a transfer would spin.
        FUZZ_CHECK(step.consumed > 0 || step.produced > 0 || state.ended || (in.empty() && !atEof));
        fileAt += step.consumed;
        wire.insert(wire.end(), block.begin(), block.begin() + step.produced);
        if (atEof && fileAt == file.size() && !state.pendingCr)
            FUZZ_CHECK(state.ended);
    }
    return wire;
}

Bytes WriteAsText(const Bytes& wire, std::size_t inChunk)
{
    TextWriteState state;
    Bytes file;
    file.reserve(2 * wire.size());
    std::vector<std::uint8_t> out(2 * std::min(inChunk, wire.size()));
    for (std::size_t at = 0; at < wire.size(); at += inChunk) {
        const std::span<const std::uint8_t> in(wire.data() + at, std::min(inChunk, wire.size() - at));
        const std::size_t produced = TextModeWrite(state, in, std::span(out).first(2 * in.size()));
        FUZZ_CHECK(produced >= in.size() && produced <= out.size());
        file.insert(file.end(), out.begin(), out.begin() + produced);
    }
    return file;
}

bool Contains(const Bytes& bytes, std::initializer_list<std::uint8_t> pattern)
{
    return std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end()) != bytes.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::size_t inChunk = input.ConsumeIntegralInRange<std::size_t>(1, 64);
    const std::size_t outBlock = input.ConsumeIntegralInRange<std::size_t>(1, 64);
    const Bytes text = input.ConsumeRemainingBytes<std::uint8_t>();
    const std::size_t whole = text.size() + 1;

    // How the data is cut never changes the result: a line end split over
    // two chunks or two blocks is translated like any other.
    const Bytes wire = ReadAsText(text, whole, whole);
    FUZZ_CHECK(ReadAsText(text, inChunk, outBlock) == wire);
    const Bytes file = WriteAsText(text, whole);
    FUZZ_CHECK(WriteAsText(text, inChunk) == file);

    // Reading never lengthens the text and stops at the end-of-text mark.
    FUZZ_CHECK(wire.size() <= text.size());
    const auto mark = std::find(text.begin(), text.end(), END_OF_TEXT);
    FUZZ_CHECK(std::find(wire.begin(), wire.end(), END_OF_TEXT) == wire.end());
    FUZZ_CHECK(static_cast<std::size_t>(std::count(wire.begin(), wire.end(), LF)) ==
               static_cast<std::size_t>(std::count(text.begin(), mark, LF)));

    // Writing adds exactly one CR before each LF that lacks one.
    std::size_t bareLf = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        bareLf += text[i] == LF && (i == 0 || text[i - 1] != CR);
    FUZZ_CHECK(file.size() == text.size() + bareLf);

    // Round trips where they are defined. A stored file whose every LF
    // follows a CR reads back to the same bytes when written, unless a lone
    // CR directly precedes a CR LF (both then travel as CR LF). Data without
    // CR LF and without the mark comes back from a write and a read.
    const bool hasMark = mark != text.end();
    bool everyLfAfterCr = true;
    for (std::size_t i = 0; i < text.size(); ++i)
        everyLfAfterCr = everyLfAfterCr && (text[i] != LF || (i > 0 && text[i - 1] == CR));
    if (!hasMark && everyLfAfterCr && !Contains(text, {CR, CR, LF}))
        FUZZ_CHECK(WriteAsText(wire, inChunk) == text);
    if (!hasMark && !Contains(text, {CR, LF}))
        FUZZ_CHECK(ReadAsText(file, inChunk, outBlock) == text);
    return 0;
}
