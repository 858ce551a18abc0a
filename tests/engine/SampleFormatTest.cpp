#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "SampleFormat.h"

namespace {

const double kPi = 3.14159265358979323846;

FormatRecord driverFormat(int32_t type) {
    FormatRecord f{};
    EXPECT_GE(formatFromSampleType(type, f, 48000.0), 0);
    return f;
}

std::vector<float> decodeOne(const std::vector<uint8_t>& bytes, const FormatRecord& f, int count) {
    std::vector<float> out(count, -7.0f);
    float* dst[1] = {out.data()};
    EXPECT_TRUE(decodeSamples(bytes.data(), dst, count, f, false));
    return out;
}

std::vector<uint8_t> encodeOne(const std::vector<float>& in, const FormatRecord& f, uint8_t fill = 0xAA) {
    std::vector<uint8_t> bytes(in.size() * f.blockAlign, fill);
    const float* src[1] = {in.data()};
    EXPECT_TRUE(encodeSamples(src, bytes.data(), int32_t(in.size()), f, false));
    return bytes;
}

}  // namespace

TEST(FormatFromSampleType, FollowsTheTableAndRefusesTheRest) {
    struct Row {
        int32_t type, tag, align, bits, result;
    } rows[] = {{0, 1, 2, 16, 1},  {1, 1, 3, 24, 1},  {2, 1, 4, 32, 1},  {3, 3, 4, 32, 1},  {4, 3, 8, 64, 1},
                {8, 1, 4, 16, 1},  {11, 1, 4, 24, 1}, {16, 1, 2, 16, 0}, {17, 1, 3, 24, 0}, {18, 1, 4, 32, 0},
                {19, 3, 4, 32, 0}, {20, 3, 8, 64, 0}, {24, 1, 4, 16, 0}, {27, 1, 4, 24, 0}};
    for (const Row& r : rows) {
        FormatRecord f{};
        EXPECT_EQ(formatFromSampleType(r.type, f, 44100.9), r.result) << r.type;
        EXPECT_EQ(f.formatTag, r.tag) << r.type;
        EXPECT_EQ(f.blockAlign, r.align) << r.type;
        EXPECT_EQ(f.bitsPerSample, r.bits) << r.type;
        EXPECT_EQ(f.channels, 1);
        EXPECT_EQ(f.samplesPerSec, 44100u);
        EXPECT_EQ(f.avgBytesPerSec, 44100u * r.align);
    }
    for (int32_t bad : {5, 6, 7, 9, 10, 12, 13, 14, 15, 21, 22, 23, 25, 26, 28, 1000, -1}) {
        FormatRecord f{};
        f.formatTag = 9;
        f.blockAlign = 5;
        f.bitsPerSample = 11;
        EXPECT_EQ(formatFromSampleType(bad, f, 1000.0), -1) << bad;
        EXPECT_EQ(f.formatTag, 9);
        EXPECT_EQ(f.bitsPerSample, 11);
        EXPECT_EQ(f.avgBytesPerSec, 5000u);
    }
}

TEST(DecodeEncode, IntegerRoundTripsAreExactAtEveryWidth) {
    // Every integer value that the encoder can produce survives decode then encode.
    for (int32_t type : {kAsioInt16LSB, kAsioInt24LSB, kAsioInt32LSB16, kAsioInt32LSB24}) {
        const FormatRecord f = driverFormat(type);
        const int bits = f.bitsPerSample;
        // The encoder limits to 0.99999 of full scale, so stay within that.
        const int32_t top = int32_t(0.99999f * float((1 << (bits - 1)) - 1)) - 1;
        std::vector<uint8_t> bytes(f.blockAlign * 4096, 0);
        std::vector<int32_t> values;
        for (int i = 0; i < 4096; ++i)
            values.push_back(int32_t((int64_t(i) * 2 * top) / 4095 - top));
        for (int i = 0; i < 4096; ++i)
            std::memcpy(&bytes[i * f.blockAlign], &values[i], bits / 8);
        std::vector<float> decoded = decodeOne(bytes, f, 4096);
        std::vector<uint8_t> again = encodeOne(decoded, f);
        for (int i = 0; i < 4096; ++i) {
            int32_t v = 0;
            std::memcpy(&v, &again[i * f.blockAlign], bits / 8);
            v = (v << (32 - bits)) >> (32 - bits);
            EXPECT_LE(std::abs(v - values[i]), 1) << "type " << type << " value " << values[i];
        }
    }
}

TEST(DecodeEncode, SixteenBitEdges) {
    const FormatRecord f = driverFormat(kAsioInt16LSB);
    std::vector<float> d = decodeOne({0xFF, 0x7F, 0x00, 0x80}, f, 2);
    EXPECT_FLOAT_EQ(d[0], 1.0f);
    EXPECT_NEAR(d[1], -1.00003f, 1e-5f);
    std::vector<uint8_t> e = encodeOne({1.0f, 0.5f, -0.5f, 7.0f, -7.0f}, f);
    auto at = [&](int i) { int16_t v; std::memcpy(&v, &e[i * 2], 2); return v; };
    EXPECT_EQ(at(0), 32766);
    EXPECT_EQ(at(1), 16383);
    EXPECT_EQ(at(2), -16383);
    EXPECT_EQ(at(3), 32766);
    EXPECT_EQ(at(4), -32766);
}

TEST(DecodeEncode, TwentyFourAndThirtyTwoBitEdges) {
    const FormatRecord f24 = driverFormat(kAsioInt24LSB);
    std::vector<float> d = decodeOne({0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}, f24, 2);
    EXPECT_EQ(d[0], 1.0f);
    EXPECT_NEAR(d[1], -1.0000001f, 1e-7f);

    const FormatRecord f32 = driverFormat(kAsioInt32LSB);
    std::vector<uint8_t> e = encodeOne({1.0f, 1e9f, -1e9f, INFINITY}, f32);
    for (int i = 0; i < 4; ++i) {
        int32_t v;
        std::memcpy(&v, &e[i * 4], 4);
        EXPECT_EQ(std::abs(v), 2147462144) << i;  // never wraps to the other sign
        EXPECT_EQ(v > 0, i != 2) << i;
    }
}

TEST(DecodeEncode, EightBitIsOffsetBinary) {
    FormatRecord f{kFormatPcm, 1, 8000, 8000, 1, 8, 0};
    std::vector<float> d = decodeOne({128, 255, 1}, f, 3);
    EXPECT_EQ(d[0], 0.0f);
    EXPECT_FLOAT_EQ(d[1], 1.0f);
    EXPECT_FLOAT_EQ(d[2], -1.0f);
    std::vector<uint8_t> e = encodeOne({0.0f, 1.0f, -1.0f}, f);
    EXPECT_EQ(e[0], 127);
    EXPECT_EQ(e[1], 253);
    EXPECT_EQ(e[2], 0);
}

TEST(DecodeEncode, ContainersOnlyTouchTheValueBytes) {
    // Int32LSB24: the value sits in the low three bytes; the top byte is not written
    // and not read.
    const FormatRecord f = driverFormat(kAsioInt32LSB24);
    std::vector<float> d = decodeOne({0xFF, 0xFF, 0x3F, 0x55}, f, 1);
    EXPECT_NEAR(d[0], 4194303.0f / 8388607.0f, 1e-7f);
    std::vector<uint8_t> e = encodeOne({0.5f}, f, 0xAA);
    EXPECT_EQ(e[0], 0xFF);
    EXPECT_EQ(e[1], 0xFF);
    EXPECT_EQ(e[2], 0x3F);
    EXPECT_EQ(e[3], 0xAA);
}

TEST(DecodeEncode, FloatFormatsAreExactAndWideningIsLossless) {
    const float values[] = {0.0f, 1.0f, -1.0f, 0.123456789f, 3.5f, -1e-30f};
    for (int32_t type : {kAsioFloat32LSB, kAsioFloat64LSB}) {
        const FormatRecord f = driverFormat(type);
        std::vector<float> in(std::begin(values), std::end(values));
        std::vector<float> back = decodeOne(encodeOne(in, f), f, int(in.size()));
        for (size_t i = 0; i < in.size(); ++i)
            EXPECT_EQ(back[i], in[i]) << type;  // no limit on float outputs
    }
}

TEST(DecodeEncode, BigEndianCarriesSilenceAndLeavesOutputsAlone) {
    FormatRecord f{};
    ASSERT_EQ(formatFromSampleType(kAsioInt16MSB, f, 44100.0), 1);
    std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78};
    float out[2] = {0.25f, 0.5f};
    float* dst[1] = {out};
    EXPECT_FALSE(decodeSamples(bytes.data(), dst, 2, f, true));
    EXPECT_EQ(out[0], 0.25f);
    const float* src[1] = {out};
    EXPECT_FALSE(encodeSamples(src, bytes.data(), 2, f, true));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
}

TEST(DecodeEncode, UnknownWidthsFailAndUnknownTagsWriteNothing) {
    float out[1] = {0.5f};
    float* dst[1] = {out};
    uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    FormatRecord pcm12{kFormatPcm, 1, 8000, 16000, 2, 12, 0};
    EXPECT_FALSE(decodeSamples(bytes, dst, 1, pcm12, false));
    FormatRecord float16{kFormatFloat, 1, 8000, 16000, 2, 16, 0};
    EXPECT_FALSE(decodeSamples(bytes, dst, 1, float16, false));
    FormatRecord adpcm{2, 1, 8000, 16000, 2, 16, 0};
    EXPECT_TRUE(decodeSamples(bytes, dst, 1, adpcm, false));
    EXPECT_EQ(out[0], 0.5f);
}

TEST(DecodeEncode, InterleavedStereoFileLayout) {
    FormatRecord f{kFormatPcm, 2, 44100, 44100 * 6, 6, 24, 0};
    // Frame 0: left 0x000001, right 0xFFFFFF (-1); frame 1: left max, right min.
    std::vector<uint8_t> bytes = {1, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0x80};
    float l[2], r[2];
    float* dst[2] = {l, r};
    ASSERT_TRUE(decodeSamples(bytes.data(), dst, 2, f, false));
    EXPECT_GT(l[0], 0.0f);
    EXPECT_LT(r[0], 0.0f);
    EXPECT_EQ(l[1], 1.0f);
    EXPECT_LT(r[1], -1.0f);
    std::vector<uint8_t> again(12, 0);
    const float* src[2] = {l, r};
    l[1] = 0.999f;
    ASSERT_TRUE(encodeSamples(src, again.data(), 2, f, false));
    EXPECT_EQ(std::vector<uint8_t>(again.begin(), again.begin() + 6),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + 6));
}

// The converter's own tests are in RateConverterTest; here its contract with the
// deck's callers: the counts of samples in and out.
namespace {
struct PreparedChannel {
    RateTable table;
    std::vector<float> history = std::vector<float>(12000);
    RateConverterState state;
    PreparedChannel(uint32_t in, uint32_t out) {
        table.build(in, out);
        state.history = history.data();
        state.capacity = int32_t(history.size());
        state.reset(&table);
    }
};
}  // namespace

TEST(ConvertRate, OutputLengthsFollowTheRatio) {
    std::vector<float> in(2000, 0.5f), out(2000, -9.0f);
    PreparedChannel up(44100, 48000);
    EXPECT_EQ(rateOutputFor(up.state, 441), 481) << "the first output lies 147/160 of a frame in";
    EXPECT_EQ(convertRate(in.data(), out.data(), 480, 441, up.state), 480);  // 44.1 kHz to 48 kHz
    EXPECT_NE(out[479], -9.0f);
    EXPECT_EQ(out[480], -9.0f);

    std::fill(out.begin(), out.end(), -9.0f);
    PreparedChannel tiny(10, 2000);  // two hundredfold: nothing
    EXPECT_EQ(convertRate(in.data(), out.data(), 2000, 10, tiny.state), 0);
    EXPECT_EQ(out[0], -9.0f);

    // Equal rates copy exactly.
    std::vector<float> ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[i] = float(i) * 0.001f - 0.1f;
    PreparedChannel same(48000, 48000);
    convertRate(ramp.data(), out.data(), 256, 256, same.state);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(out[i], ramp[i]);
}

TEST(ConvertRate, ConsecutiveBlocksJoinWithoutSeam) {
    // 44.1 kHz into a 48 kHz chain in 256-frame blocks: 235 or 236 source frames each,
    // as the position carried from block to block says.
    const int blocks = 60;
    std::vector<float> dc(236 * blocks, 0.5f), sine(236 * blocks);
    for (size_t i = 0; i < sine.size(); ++i)
        sine[i] = float(0.5 * std::sin(2.0 * kPi * 440.0 * double(i) / 44100.0));
    PreparedChannel dcState(44100, 48000), sineState(44100, 48000);
    std::vector<float> dcOut(256 * blocks), sineOut(256 * blocks);
    size_t at = 0;
    for (int b = 0; b < blocks; ++b) {
        const int32_t need = rateInputFor(dcState.state, 256);
        EXPECT_TRUE(need == 235 || need == 236) << need;
        EXPECT_EQ(convertRate(&dc[at], &dcOut[b * 256], 256, need, dcState.state), 256);
        EXPECT_EQ(convertRate(&sine[at], &sineOut[b * 256], 256, need, sineState.state), 256);
        at += size_t(need);
    }
    EXPECT_EQ(at, size_t(60 * 256 * 147 / 160));
    // A constant settles to itself after the start and is never disturbed at a join.
    for (size_t i = 4 * 256; i < dcOut.size(); ++i)
        ASSERT_NEAR(dcOut[i], 0.5f, 1e-6f) << i;
    // A join is no rougher than the inside of a block.
    float inside = 0.0f, joins = 0.0f;
    for (size_t i = 257; i < sineOut.size(); ++i) {
        const float jump = std::fabs(sineOut[i] - sineOut[i - 1]);
        (i % 256 == 0 ? joins : inside) = std::max(i % 256 == 0 ? joins : inside, jump);
    }
    EXPECT_GT(inside, 0.0f);
    EXPECT_LE(joins, inside);
}

TEST(MixChannels, MapsDifferingCounts) {
    float a[2] = {1.0f, 2.0f}, b[2] = {10.0f, 20.0f};
    const float* two[2] = {a, b};
    float d0[2] = {0.5f, 0.5f}, d1[2] = {0.0f, 0.0f};
    float* one[1] = {d0};
    mixChannels(two, 2, one, 1, 2, 0.5f);  // summed into one, added not copied
    EXPECT_FLOAT_EQ(d0[0], 0.5f + 5.5f);
    EXPECT_FLOAT_EQ(d0[1], 0.5f + 11.0f);

    float* both[2] = {d0, d1};
    d0[0] = d0[1] = 0.0f;
    mixChannels(two, 1, both, 2, 2, 2.0f);  // one source feeds both
    EXPECT_FLOAT_EQ(d0[1], 4.0f);
    EXPECT_FLOAT_EQ(d1[1], 4.0f);

    d0[0] = 3.0f;
    mixChannels(two, 0, both, 2, 2, 1.0f);
    mixChannels(two, 2, both, 0, 2, 1.0f);
    EXPECT_EQ(d0[0], 3.0f);
}

TEST(DecodeEncode, ThirtyTwoAndEightBitRoundTripsStayWithinTheirPrecision) {
    // 32-bit integers pass through a float's 24-bit mantissa; 8-bit values are
    // checked below.
    const FormatRecord f32 = driverFormat(kAsioInt32LSB);
    std::vector<int32_t> values;
    for (int i = 0; i < 1000; ++i)
        values.push_back(int32_t(int64_t(i) * 4294000 - 2147000000));
    std::vector<uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    std::vector<uint8_t> again = encodeOne(decodeOne(bytes, f32, 1000), f32);
    for (size_t i = 0; i < values.size(); ++i) {
        int32_t v;
        std::memcpy(&v, &again[i * 4], 4);
        EXPECT_LE(std::llabs(int64_t(v) - values[i]), 256) << values[i];
    }

    FormatRecord f8{kFormatPcm, 1, 8000, 8000, 1, 8, 0};
    std::vector<uint8_t> all(254);
    for (int i = 0; i < 254; ++i)
        all[i] = uint8_t(i);
    // 8-bit decoding is centred on 128 and encoding on 127 (0.0 encodes to 127), so
    // a round trip lands one step low, or two after the truncation.
    std::vector<uint8_t> back = encodeOne(decodeOne(all, f8, 254), f8);
    for (int i = 2; i < 254; ++i) {
        EXPECT_LE(int(back[i]), i - 1) << i;
        EXPECT_GE(int(back[i]), i - 2) << i;
    }
}

TEST(DecodeEncode, NotANumberEncodesAsSilence) {
    // A broken plug-in's NaN must not reach the speakers as full scale.
    for (int32_t type : {kAsioInt16LSB, kAsioInt24LSB, kAsioInt32LSB}) {
        const FormatRecord f = driverFormat(type);
        std::vector<uint8_t> e = encodeOne({std::nanf(""), -std::nanf("")}, f, 0x55);
        for (int i = 0; i < 2; ++i) {
            int32_t v = 0;
            std::memcpy(&v, &e[i * f.blockAlign], f.bitsPerSample / 8);
            EXPECT_EQ(v << (32 - f.bitsPerSample), 0) << type;
        }
    }
}
