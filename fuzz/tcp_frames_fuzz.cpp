// The configuration service's byte stream, cut into pieces of any size as
// TCP may deliver it. The first bytes of the input choose the piece sizes,
// the rest is the stream.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "net/frame_splitter.h"
#include "net/tcp.h"

namespace {

struct Outcome
{
    std::vector<std::vector<std::uint8_t>> frames;
    FrameStatus end = FrameStatus::NeedMore;  // NeedMore: the stream ran out
};

// The stream read front to back in one go, as the frames were written.
Outcome SplitWhole(std::span<const std::uint8_t> stream, std::size_t capacity)
{
    Outcome out;
    std::size_t pos = 0;
    while (stream.size() - pos >= 2) {
        const std::size_t length = stream[pos] | static_cast<std::size_t>(stream[pos + 1]) << 8;
        if (length == 0) {
            out.end = FrameStatus::Empty;
            return out;
        }
        if (length > capacity) {
            out.end = FrameStatus::TooLong;
            return out;
        }
        if (stream.size() - pos - 2 < length)
            return out;
        out.frames.emplace_back(stream.begin() + pos + 2, stream.begin() + pos + 2 + length);
        pos += 2 + length;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    // Small buffers reach the length limit with short inputs; the real one
    // is the connection's.
    const std::size_t capacity =
        input.ConsumeBool() ? TCP_RECV_BUFFER_SIZE : input.ConsumeIntegralInRange<std::size_t>(1, 64);
    std::vector<std::size_t> pieces(input.ConsumeIntegralInRange<std::size_t>(1, 8));
    for (std::size_t& piece : pieces)
        piece = input.ConsumeIntegralInRange<std::size_t>(1, 300);
    const std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

    std::vector<std::uint8_t> buffer(capacity);
    TcpFrameSplitter splitter(buffer);
    Outcome got;
    std::size_t pos = 0;
    for (std::size_t turn = 0; pos < stream.size(); ++turn) {
        const std::span<std::uint8_t> space = splitter.Space();
        FUZZ_CHECK(!space.empty());
        // The space is the rest of the length field inside the splitter or
        // lies inside the payload buffer.
        const auto* object = reinterpret_cast<const std::uint8_t*>(&splitter);
        const bool inHeader = space.data() >= object &&
                              space.data() + space.size() <= object + sizeof splitter && space.size() <= 2;
        const bool inBuffer =
            space.data() >= buffer.data() && space.data() + space.size() <= buffer.data() + buffer.size();
        FUZZ_CHECK(inHeader || inBuffer);
        // A receive fills at most the space it is offered.
        const std::size_t count = std::min({pieces[turn % pieces.size()], space.size(), stream.size() - pos});
        std::memcpy(space.data(), stream.data() + pos, count);
        pos += count;
        const FrameStatus status = splitter.Add(count);
        if (status == FrameStatus::Complete) {
            const auto payload = splitter.Payload();
            FUZZ_CHECK(payload.data() == buffer.data() && payload.size() >= 1 && payload.size() <= capacity);
            got.frames.emplace_back(payload.begin(), payload.end());
        } else if (status == FrameStatus::Empty || status == FrameStatus::TooLong) {
            got.end = status;  // the connection ends here
            break;
        }
    }

    // However the stream was cut, the same frames come out, and it stops
    // where a whole reading stops.
    const Outcome whole = SplitWhole(stream, capacity);
    FUZZ_CHECK(got.frames == whole.frames);
    FUZZ_CHECK(got.end == whole.end);
    return 0;
}
