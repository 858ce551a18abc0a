#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "RateConverter.h"
#include "SineMeasure.h"

namespace {

// One channel's converter with its own history, driven the two ways the deck drives
// it: pulled (so many outputs, as the accompaniment) or pushed (so many inputs, as a take).
struct Channel {
    RateTable table;
    std::vector<float> history = std::vector<float>(RateTable::kMaxTaps + 128 + 10240);
    RateConverterState state;

    Channel(uint32_t in, uint32_t out, bool linear = false) {
        EXPECT_TRUE(linear ? table.buildLinear(in, out) : table.build(in, out));
        state.history = history.data();
        state.capacity = int32_t(history.size());
        state.reset(&table);
    }

    std::vector<float> pull(const std::vector<float>& in, size_t outputs, int block) {
        std::vector<float> out(outputs);
        size_t used = 0;
        for (size_t done = 0; done < outputs;) {
            const int n = int(std::min<size_t>(size_t(block), outputs - done));
            const int need = rateInputFor(state, n);
            if (used + size_t(need) > in.size()) {
                ADD_FAILURE() << "asks beyond the input";
                break;
            }
            EXPECT_EQ(convertRate(&in[used], &out[done], n, need, state), n);
            used += size_t(need);
            done += size_t(n);
        }
        return out;
    }

    std::vector<float> push(const std::vector<float>& in, int block) {
        std::vector<float> out(in.size() * table.outRate() / table.inRate() + 2);
        size_t done = 0;
        for (size_t used = 0; used < in.size(); used += size_t(block)) {
            const int n = int(std::min<size_t>(size_t(block), in.size() - used));
            const int expected = rateOutputFor(state, n);
            EXPECT_EQ(convertRate(&in[used], &out[done], expected, n, state), expected);
            done += size_t(expected);
        }
        out.resize(done);
        return out;
    }
};

std::vector<float> tone(double frequency, double rate, double seconds, double amplitude = 0.5) {
    std::vector<float> x(size_t(seconds * rate));
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = float(amplitude * std::sin(2.0 * SineMeasure::kPi * frequency * double(i) / rate));
    return x;
}

}  // namespace

TEST(RateConverter, TonesComeOutCleanAtTheirFrequencyInEveryDirection) {
    const SineMeasure sharp(tone(440.02, 48000, 1.0).data(), 48000, 440.0, 48000);
    ASSERT_NEAR(sharp.frequency, 440.02, 0.001) << "the measure tells a hundredth of a hertz";
    ASSERT_LT(sharp.sinadDb, 60.0);
    struct Pair {
        uint32_t in, out;
    };
    for (const Pair pair : {Pair{44100, 48000}, Pair{48000, 44100}, Pair{22050, 96000}, Pair{96000, 44100}}) {
        // A 22.05 kHz file holds nothing at 15 kHz: its top tone is 9 kHz, inside the passband.
        for (const double f : {440.0, 1000.0, pair.in > 30000 ? 15000.0 : 9000.0}) {
            SCOPED_TRACE(testing::Message() << pair.in << " -> " << pair.out << " Hz, tone " << f);
            Channel c(pair.in, pair.out);
            EXPECT_LE(c.table.delay(), int32_t(pair.in / 1000)) << "at most 1 ms late";
            const std::vector<float> out = c.pull(tone(f, pair.in, 1.2), size_t(1.1 * pair.out), 256);
            const size_t skip = pair.out / 10;  // past the filter's start
            const SineMeasure m(out.data() + skip, pair.out, f, pair.out);
            EXPECT_GE(m.sinadDb, 100.0);
            EXPECT_NEAR(m.frequency, f, 0.01);
            EXPECT_NEAR(20.0 * std::log10(m.amplitude / 0.5), 0.0, 0.05) << "flat passband";
        }
    }
}

TEST(RateConverter, BlockSizeChangesNothingAndTimeIsKeptExactly) {
    // A chord with some noise, 44.1 kHz to 48 kHz, pulled and pushed in blocks of every size.
    std::vector<float> in = tone(440.0, 44100, 1.0, 0.3);
    const std::vector<float> high = tone(12345.0, 44100, 1.0, 0.2);
    uint32_t noise = 1;
    for (size_t i = 0; i < in.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        in[i] += high[i] + float(int32_t(noise) >> 8) * 1e-8f;
    }
    const size_t outputs = 47000;
    const std::vector<float> reference = Channel(44100, 48000).pull(in, outputs, 1);
    for (const int block : {32, 64, 256, 1024}) {
        const std::vector<float> pulled = Channel(44100, 48000).pull(in, outputs, block);
        const std::vector<float> pushed = Channel(44100, 48000).push(in, block);
        ASSERT_GE(pushed.size(), outputs);
        for (size_t i = 0; i < outputs; ++i) {
            ASSERT_NEAR(pulled[i], reference[i], 1e-6f) << "block " << block << ", sample " << i;
            ASSERT_NEAR(pushed[i], reference[i], 1e-6f) << "block " << block << ", sample " << i;
        }
    }

    // Ten minutes of a file in small blocks: its frames take exactly their time at the
    // host's rate. The position's arithmetic is the same for every kind of table; the
    // two-point one keeps the test quick.
    struct Case {
        uint32_t in, out;
        int block;
    };
    for (const Case k : {Case{44100, 48000, 64}, Case{96000, 44100, 32}, Case{22050, 96000, 1024}}) {
        Channel c(k.in, k.out, true);
        const int64_t fileFrames = int64_t(k.in) * 600;
        std::vector<float> silence(20000), out(size_t(k.block));
        int64_t consumed = 0, produced = 0;
        while (consumed < fileFrames) {
            const int need = rateInputFor(c.state, k.block);
            consumed += need;
            produced += convertRate(silence.data(), out.data(), k.block, need, c.state);
        }
        // The last block may reach a little past the end: count back to the file's end.
        const double exact = double(fileFrames) * k.out / k.in;
        const double endOfFile = double(produced) - double(consumed - fileFrames) * k.out / k.in;
        EXPECT_NEAR(endOfFile, exact, 1.0) << k.in << " -> " << k.out;
    }
}

TEST(RateConverter, EqualRatesCopyAndUnusableRatesConvertNothing) {
    Channel same(48000, 48000);
    EXPECT_EQ(same.table.kind(), RateTable::Kind::Copy);
    const std::vector<float> in = tone(1000.0, 48000, 0.01);
    std::vector<float> out(in.size(), -9.0f);
    EXPECT_EQ(convertRate(in.data(), out.data(), int32_t(in.size()), int32_t(in.size()), same.state),
              int32_t(in.size()));
    EXPECT_EQ(out, in);

    RateTable far;
    EXPECT_FALSE(far.build(400, 48000)) << "further apart than a hundredfold";
    EXPECT_FALSE(far.build(0, 48000));
    RateConverterState none;
    none.reset(&far);
    EXPECT_EQ(convertRate(in.data(), out.data(), 10, 10, none), 0);
    EXPECT_EQ(rateInputFor(none, 10), 0);

    // A ratio with too many phases for exact rows is interpolated between rows and
    // stays clean.
    Channel odd(44101, 48000);
    EXPECT_TRUE(odd.table.interpolated());
    const std::vector<float> out2 = odd.pull(tone(15000.0, 44101, 0.6), 26400, 256);
    const SineMeasure m(out2.data() + 2400, 24000, 15000.0, 48000);
    EXPECT_GE(m.sinadDb, 100.0);
}

TEST(RateConverter, TheFileConvertersPickTheTableOfTheHostRate) {
    RateConverter converter;
    ASSERT_TRUE(converter.prepare(44100, true, 50000, 1024));
    EXPECT_TRUE(converter.select(48000.0f));
    EXPECT_FALSE(converter.select(48000.0f)) << "the same rate keeps the stream going";
    EXPECT_EQ(converter.current()->kind(), RateTable::Kind::Sinc);
    EXPECT_TRUE(converter.select(50000.0f));
    EXPECT_EQ(converter.current()->kind(), RateTable::Kind::Sinc) << "the rate last seen has its table";
    EXPECT_TRUE(converter.select(44100.0f));
    EXPECT_TRUE(converter.copies());
    EXPECT_TRUE(converter.select(51000.0f));
    EXPECT_EQ(converter.current()->kind(), RateTable::Kind::Linear) << "an unforeseen rate still plays";
    EXPECT_TRUE(converter.select(0.0f));
    EXPECT_FALSE(converter.converts());

    RateConverter take;  // the chain's rate into the file's
    ASSERT_TRUE(take.prepare(44100, false, 0, 1024));
    take.select(96000.0f);
    EXPECT_EQ(take.current()->inRate(), 96000u);
    EXPECT_EQ(take.current()->outRate(), 44100u);
}
