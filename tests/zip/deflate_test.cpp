// Tests of the Deflate compressor: round trips through zlib's raw inflate, and the entry fields,
// byte counts and error paths the archive writer relies on.
#include "zip/deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "deflateinputs.h"
#include "rawinflate.h"
#include "testsupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Hands out the input in a repeating cycle of chunk sizes (0 = as much as asked) and collects
// everything given to zfwrite.
class FakeHost : public TDeflateHost {
public:
    explicit FakeHost(const Bytes& input, std::vector<unsigned> chunks = {0}) : input_(input), chunks_(std::move(chunks)) {}

    uint16_t file_read(uint8_t* buffer, uint16_t count) override {
        EXPECT_GT(count, 0u);
        EXPECT_LT(count, 65535u);
        if (pos_ == input_.size()) return endMarker;
        unsigned n = chunks_[reads_++ % chunks_.size()];
        n = std::min<size_t>(n == 0 ? count : std::min<unsigned>(n, count), input_.size() - pos_);
        if (n != 0) std::memcpy(buffer, input_.data() + pos_, n);
        pos_ += n;
        crc = crc32(crc, buffer, n);
        return static_cast<uint16_t>(n);
    }

    size_t zfwrite(uint8_t* buffer, size_t size, size_t count) override {
        const size_t n = size * count;
        if (failAtWrite != 0 && ++writes_ == failAtWrite) throw std::runtime_error("disk full");
        output.insert(output.end(), buffer, buffer + n);
        largestWrite = std::max(largestWrite, n);
        // What an encrypting writer does: the buffer it was given no longer holds the plain bytes.
        if (scrambleInPlace) std::transform(buffer, buffer + n, buffer, [](uint8_t b) { return static_cast<uint8_t>(b ^ 0xA5); });
        return n;
    }

    Bytes output;
    size_t largestWrite = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool scrambleInPlace = false;
    size_t failAtWrite = 0;  // 1-based zfwrite call that throws; 0 = never
    uint16_t endMarker = 0;

private:
    const Bytes& input_;
    std::vector<unsigned> chunks_;
    size_t pos_ = 0;
    size_t reads_ = 0;
    size_t writes_ = 0;
};

struct Entry {
    uint16_t flag = 0;
    uint16_t attributes = 2;
    uint16_t method = 8;
    int64_t size = -1;
};

Entry compress(TDeflater& deflater, TDeflateBuffers& work, FakeHost& host, int level, uint16_t flag = 0) {
    Entry e;
    e.flag = flag;
    e.size = deflater.Deflate(work, level, host, {e.flag, e.attributes, e.method});
    return e;
}

// What zlib decodes the stream to; an empty optional (never equal to an input) when it rejects it.
std::optional<Bytes> inflateRaw(const Bytes& data) { return testsupport::inflateRaw(data.data(), data.size()); }

using namespace deflateinputs;

// The chunk cycles file_read hands out: whole requests, odd sizes, and a short first read.
const std::vector<std::vector<unsigned>> kChunkings = {{0}, {1, 7, 300, 4093, 0, 2}, {100, 0}};

class DeflateRoundTrip : public ::testing::TestWithParam<std::tuple<size_t, int>> {};

TEST_P(DeflateRoundTrip, InflatesToTheInputAndCountsTheBytesWritten) {
    const auto [index, level] = GetParam();
    const Bytes& input = roundTripInputs()[index].data;
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    for (const auto& chunks : kChunkings) {
        SCOPED_TRACE("chunk cycle starting " + std::to_string(chunks[0]));
        FakeHost host(input, chunks);
        const Entry e = compress(deflater, *work, host, level);
        ASSERT_EQ(e.size, static_cast<int64_t>(host.output.size()));
        EXPECT_LE(host.largestWrite, 1024u) << "output leaves in pieces of at most the staging buffer";
        EXPECT_EQ(host.crc, crc32(0, input.data(), static_cast<uInt>(input.size())));
        if (e.method == 0) {
            EXPECT_EQ(host.output, input);
            EXPECT_LE(input.size(), 32767u) << "only a one-block entry may fall back to stored";
        } else {
            ASSERT_EQ(e.method, 8);
            EXPECT_LT(host.output.size(), input.size() + input.size() / 50 + 8);
            EXPECT_TRUE(inflateRaw(host.output) == input);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllLevels, DeflateRoundTrip,
                         ::testing::Combine(::testing::Range<size_t>(0, roundTripInputs().size()), ::testing::Range(1, 10)),
                         [](const auto& info) {
                             return roundTripInputs()[std::get<0>(info.param)].name + "_level" +
                                    std::to_string(std::get<1>(info.param));
                         });

// Pins the compressed bytes (CRC-32 and length) of fixed inputs at every level, so that a change
// of the matcher, the block choice or the bit output that alters any byte is caught.
// The values agree with a separate, plain model of the algorithm written from its description.
TEST(Deflate, CompressedBytesArePinnedAtEveryLevel) {
    struct Pin {
        const char* input;
        int level;
        uint32_t crc;
        int64_t size;
    };
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"log", logLines(150000, 15)},
        {"samples", samples(100000, 16)},
        {"mutated copies", mutatedCopies(100000, 17)},
        {"mixed", concat({text(40000, 12), testsupport::randomBytes(40000, 13), Bytes(5000, 'z'), logLines(60000, 14)})},
        {"short text, fixed codes", text(60, 31)},
        {"no matches, two forced distance codes", noRepeatedTriples()},
    };
    const std::vector<Pin> pins = {
        {"log", 1, 0xbcf98fe2u, 42166},
        {"log", 2, 0x33f2d5f9u, 40442},
        {"log", 3, 0x0a1b49b9u, 38279},
        {"log", 4, 0x65bab417u, 37114},
        {"log", 5, 0x963ba7dau, 34342},
        {"log", 6, 0xfec8091bu, 33669},
        {"log", 7, 0x8ab7d072u, 32386},
        {"log", 8, 0x2f1992c7u, 31996},
        {"log", 9, 0x2f1992c7u, 31996},
        {"samples", 1, 0x04413b4au, 44122},
        {"samples", 2, 0x8f3a46acu, 42304},
        {"samples", 3, 0x8b92cbb2u, 40299},
        {"samples", 4, 0x13f5a746u, 40554},
        {"samples", 5, 0x2677ef86u, 39991},
        {"samples", 6, 0x2877b764u, 39225},
        {"samples", 7, 0xf3acdfe4u, 39226},
        {"samples", 8, 0x5e0cc79eu, 39230},
        {"samples", 9, 0x5e0cc79eu, 39230},
        {"mutated copies", 1, 0xff163ed4u, 5551},
        {"mutated copies", 2, 0x6a832964u, 5543},
        {"mutated copies", 3, 0x25e7097au, 5462},
        {"mutated copies", 4, 0x091ff530u, 3561},
        {"mutated copies", 5, 0x12f95d6du, 3508},
        {"mutated copies", 6, 0xe8f138a3u, 3293},
        {"mutated copies", 7, 0xe8f138a3u, 3293},
        {"mutated copies", 8, 0xce0dec27u, 3143},
        {"mutated copies", 9, 0x44ce0ab5u, 3143},
        {"mixed", 1, 0x8eaf73b8u, 73203},
        {"mixed", 2, 0x238426c5u, 71945},
        {"mixed", 3, 0x58e1609fu, 67018},
        {"mixed", 4, 0x04286958u, 66010},
        {"mixed", 5, 0x13255816u, 64136},
        {"mixed", 6, 0xfca88b69u, 63460},
        {"mixed", 7, 0x5c61692cu, 62948},
        {"mixed", 8, 0x9c2dabf3u, 62800},
        {"mixed", 9, 0x9c2dabf3u, 62800},
        {"short text, fixed codes", 1, 0xbaa96dbeu, 44},
        {"short text, fixed codes", 9, 0xbaa96dbeu, 44},
        {"no matches, two forced distance codes", 1, 0x09d17dbfu, 2096},
        {"no matches, two forced distance codes", 9, 0x09d17dbfu, 2096},
    };
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    for (const Pin& pin : pins) {
        const auto& input = std::find_if(inputs.begin(), inputs.end(), [&](const auto& i) { return i.first == pin.input; })->second;
        FakeHost host(input);
        const Entry e = compress(deflater, *work, host, pin.level);
        EXPECT_EQ(crc32(0, host.output.data(), static_cast<uInt>(host.output.size())), pin.crc) << pin.input << " level " << pin.level;
        EXPECT_EQ(e.size, pin.size) << pin.input << " level " << pin.level;
    }
}

// The writer clamps its level before calling; a level out of range must still not reach past
// the level table.
TEST(Deflate, LevelsOutOfRangeCompressAsTheNearestLevel) {
    const Bytes input = logLines(40000, 71);
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    const std::pair<int, int> cases[] = {{0, 1}, {-7, 1}, {10, 9}, {1000, 9}};
    for (const auto& [level, nearest] : cases) {
        FakeHost out(input), expected(input);
        const Entry e = compress(deflater, *work, out, level);
        const Entry n = compress(deflater, *work, expected, nearest);
        EXPECT_EQ(out.output, expected.output) << "level " << level;
        EXPECT_EQ(e.flag, n.flag) << "level " << level;
    }
}

TEST(Deflate, EmptyInputIsAnEmptyStoredTextEntry) {
    const Bytes input;
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    FakeHost host(input);
    const Entry e = compress(deflater, *work, host, 9);
    EXPECT_EQ(e.size, 0);
    EXPECT_EQ(e.method, 0);
    EXPECT_EQ(e.attributes, 1);
    EXPECT_TRUE(host.output.empty());
}

// Levels 1 and 2 add flag bit 4, 8 and 9 add bit 2; the bits stay on the stored fallback and
// the flag's other bits are kept.
TEST(Deflate, FlagBitsFollowTheLevelAlsoWhenStored) {
    const Bytes shortInput = fromString("abc");
    const Bytes textInput = text(5000, 9);
    const uint16_t expected[10] = {0, 4, 4, 0, 0, 0, 0, 0, 2, 2};
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    for (int level = 1; level <= 9; level++) {
        FakeHost stored(shortInput);
        const Entry s = compress(deflater, *work, stored, level, 0x0001);
        EXPECT_EQ(s.method, 0);
        EXPECT_EQ(s.size, 3);
        EXPECT_EQ(stored.output, shortInput);
        EXPECT_EQ(s.flag, 0x0001 | expected[level]) << "level " << level;
        FakeHost compressed(textInput);
        const Entry c = compress(deflater, *work, compressed, level);
        EXPECT_EQ(c.method, 8);
        EXPECT_EQ(c.flag, expected[level]) << "level " << level;
    }
}

TEST(Deflate, ClassifiesTextAndBinaryFromTheFirstBlock) {
    struct Case {
        const char* name;
        Bytes input;
        uint16_t attributes;
    };
    // Few enough random letters to repeat hardly a string: nearly all bytes stay literals.
    Bytes letters = testsupport::randomBytes(300, 21);
    for (uint8_t& b : letters) b = static_cast<uint8_t>('a' + b % 26);
    Bytes fewControls = letters, manyControls = letters;
    for (size_t i = 0; i < letters.size(); i += 7) fewControls[i] = 0x01;   // 1 in 6 printable
    for (size_t i = 0; i < letters.size(); i += 3) manyControls[i] = 0x01;  // 1 in 2 printable
    const Case cases[] = {
        {"plain text", text(10000, 20), 1},
        {"control bytes well below a quarter of the printable ones", fewControls, 1},
        {"control bytes well above a quarter of the printable ones", manyControls, 0},
        {"random bytes", testsupport::randomBytes(10000, 22), 0},
        {"binary first block then text", concat({testsupport::randomBytes(40000, 23), text(200000, 24)}), 0},
    };
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    for (const Case& c : cases) {
        FakeHost host(c.input);
        EXPECT_EQ(compress(deflater, *work, host, 6).attributes, c.attributes) << c.name;
    }
}

// A stored block sits in the window that later matches copy from; the host may encrypt the bytes
// it is handed in place, which must not reach the window.
TEST(Deflate, StoredBlocksSurviveAHostThatEncryptsInPlace) {
    // The first block is 32767 random literals, stored; the repeat copies from it.
    const Bytes random = testsupport::randomBytes(40000, 31);
    const Bytes input = concat({random, Bytes(random.begin() + 10000, random.end()), text(20000, 32)});
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    for (int level = 1; level <= 9; level++) {
        FakeHost host(input);
        host.scrambleInPlace = true;
        const Entry e = compress(deflater, *work, host, level);
        ASSERT_EQ(e.method, 8);
        EXPECT_LT(host.output.size(), 60000u) << "the repeat is coded as matches";
        EXPECT_TRUE(inflateRaw(host.output) == input) << "level " << level;
    }
}

TEST(Deflate, EndMarker65535EndsTheInput) {
    const Bytes input = text(70000, 41);
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    FakeHost host(input, {1000, 0});
    host.endMarker = 65535;
    const Entry e = compress(deflater, *work, host, 9);
    EXPECT_EQ(e.size, static_cast<int64_t>(host.output.size()));
    EXPECT_TRUE(inflateRaw(host.output) == input);
}

TEST(Deflate, WriteErrorLeavesAtOnceAndTheNextEntryIsUnaffected) {
    const Bytes big = text(300000, 51);
    const Bytes next = concat({text(20000, 52), testsupport::randomBytes(3000, 53)});
    auto work = std::make_unique<TDeflateBuffers>();
    TDeflater deflater;
    FakeHost failing(big);
    failing.failAtWrite = 3;
    EXPECT_THROW(compress(deflater, *work, failing, 9), std::runtime_error);
    EXPECT_LE(failing.output.size(), 2 * 1024u);

    FakeHost after(next);
    compress(deflater, *work, after, 9);
    TDeflater freshDeflater;
    auto freshWork = std::make_unique<TDeflateBuffers>();
    FakeHost fresh(next);
    compress(freshDeflater, *freshWork, fresh, 9);
    EXPECT_EQ(after.output, fresh.output);
}

TEST(Deflate, AnEntryDoesNotDependOnTheEntryBefore) {
    const Bytes first = concat({testsupport::randomBytes(65000, 61), text(100000, 62)});
    const Bytes second = text(1500, 63);
    for (int level = 1; level <= 9; ++level) {
        auto work = std::make_unique<TDeflateBuffers>();
        TDeflater deflater;
        FakeHost a(first), b(second);
        compress(deflater, *work, a, level);
        compress(deflater, *work, b, level);
        auto freshWork = std::make_unique<TDeflateBuffers>();
        FakeHost c(second);
        compress(deflater, *freshWork, c, level);
        EXPECT_EQ(b.output, c.output) << "level " << level;
    }
}

}  // namespace
