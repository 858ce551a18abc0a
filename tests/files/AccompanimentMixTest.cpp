#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "AccompanimentMix.h"
#include "ErrorFlags.h"
#include "LiveChannels.h"
#include "MemoryRiffFile.h"
#include "SineMeasure.h"
#include "WaveBuilder.h"
#include "WaveParser.h"

namespace {

// An accompaniment opened from memory, mixed into two live channels of 1024 frames.
struct Player : LiveChannels {
    MemoryRiffFile* file = nullptr;  // owned by state.handle
    WaveFileState state;
    DeckBuffers buffers;
    bool playing = true;

    explicit Player(const WaveBuilder& w) {
        const auto bytes = w.build();
        file = new MemoryRiffFile(bytes);
        WaveLayout layout{};
        EXPECT_EQ(parseWave(*file, uint32_t(bytes.size()), layout), WaveOpenResult::Ok);
        state.attach(file, layout);
        takeErrorFlag(kFlagAccompReadError);
    }
    ~Player() { delete state.handle; }

    bool mix(int frames, float hostRate, int liveChannels = 2, float gain = 1.0f) {
        silence();
        return mixAccompanimentFrom(state, buffers, playing, channels, liveChannels, frames, hostRate, gain);
    }
    uint32_t framePosition() const { return state.readPosition / state.format.blockAlign; }
};

}  // namespace

TEST(AccompanimentMix, A44100FileAt48000CarriesTheFractionOfAFrameToTheNextBlock) {
    Player p(WaveBuilder::counting(10000));
    for (int block = 1; block <= 5; ++block) {
        ASSERT_TRUE(p.mix(256, 48000.0f));
        EXPECT_EQ(p.framePosition(), uint32_t(256 * block * 147 / 160));  // 235.2 frames a block
    }
}

TEST(AccompanimentMix, TheLoopContinuesWithinTheBlockAtTheEndOfTheData) {
    Player p(WaveBuilder::counting(300));
    ASSERT_TRUE(p.mix(256, 44100.0f));
    EXPECT_EQ(p.framePosition(), 256u);
    ASSERT_TRUE(p.mix(256, 44100.0f));
    for (int i = 0; i < 44; ++i)
        ASSERT_EQ(p.frameAt(i), 256 + i);
    for (int i = 44; i < 256; ++i)
        ASSERT_EQ(p.frameAt(i), i - 44) << i;
    EXPECT_EQ(p.framePosition(), 212u);
}

TEST(AccompanimentMix, EndingExactlyAtTheEndOfTheDataReturnsToItsStart) {
    Player p(WaveBuilder::counting(512));
    ASSERT_TRUE(p.mix(256, 44100.0f));
    ASSERT_TRUE(p.mix(256, 44100.0f));
    EXPECT_EQ(p.framePosition(), 0u);
    ASSERT_TRUE(p.mix(256, 44100.0f));
    EXPECT_EQ(p.frameAt(0), 0);
}

TEST(AccompanimentMix, AFileShorterThanABlockRepeatsWithinIt) {
    Player p(WaveBuilder::counting(3));
    ASSERT_TRUE(p.mix(10, 44100.0f));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(p.frameAt(i), i % 3);
    EXPECT_EQ(p.framePosition(), 1u);
}

TEST(AccompanimentMix, APendingSeekIsPerformedByTheNextBlock) {
    Player p(WaveBuilder::counting(1000));
    p.state.seekTarget = 600u * 4;
    p.state.seekPending.store(true);
    ASSERT_TRUE(p.mix(100, 44100.0f));
    EXPECT_FALSE(p.state.seekPending.load());
    EXPECT_EQ(p.frameAt(0), 600);
    EXPECT_EQ(p.framePosition(), 700u);
}

// A seek into the last frames of the data, at the file's own rate: the same block
// plays them in order and carries on from the first frame, both channels alike.
TEST(AccompanimentMix, ASeekNearTheEndOfTheDataLoopsWithinTheBlock) {
    for (uint32_t target : {997u, 999u}) {
        SCOPED_TRACE(target);
        Player p(WaveBuilder::counting(1000, 2, 48000));
        ASSERT_TRUE(p.mix(64, 48000.0f));
        p.state.seekTarget = target * 4;
        p.state.seekPending.store(true);
        ASSERT_TRUE(p.mix(16, 48000.0f));
        for (int i = 0; i < 16; ++i) {
            const int expected = int((target + uint32_t(i)) % 1000u);
            ASSERT_EQ(p.frameAt(i), expected) << i;
            ASSERT_FLOAT_EQ(p.live[1][i], -float(expected) * kStep16) << i;
        }
        EXPECT_EQ(p.framePosition(), (target + 16u) % 1000u);
        ASSERT_TRUE(p.mix(4, 48000.0f));
        EXPECT_EQ(p.frameAt(0), int((target + 16u) % 1000u));
    }
}

TEST(AccompanimentMix, ChannelMapping) {
    Player mono(WaveBuilder::counting(1000, 1));
    ASSERT_TRUE(mono.mix(64, 44100.0f, 2, 0.5f));
    EXPECT_FLOAT_EQ(mono.live[0][10], 10 * kStep16 * 0.5f);
    EXPECT_FLOAT_EQ(mono.live[1][10], 10 * kStep16 * 0.5f) << "a mono file reaches both live channels";

    Player stereo(WaveBuilder::counting(1000, 2));
    stereo.state.seekTarget = 100u * 4;
    stereo.state.seekPending.store(true);
    ASSERT_TRUE(stereo.mix(64, 44100.0f, 2));
    EXPECT_FLOAT_EQ(stereo.live[0][0], 100 * kStep16);
    EXPECT_FLOAT_EQ(stereo.live[1][0], -100 * kStep16);

    // Left and right of a stereo file summed into one live channel: frame n gives n - n.
    WaveBuilder w = WaveBuilder::counting(1000, 2);
    for (size_t i = 2; i < w.data.size(); i += 4)
        w.data[i] = w.data[i - 2], w.data[i + 1] = w.data[i - 1];  // right = left
    Player summed(w);
    ASSERT_TRUE(summed.mix(64, 44100.0f, 1));
    EXPECT_FLOAT_EQ(summed.live[0][7], 2 * 7 * kStep16);
    EXPECT_EQ(summed.live[1][7], 0.0f) << "the unused live channel is left alone";
}

TEST(AccompanimentMix, TheAccompanimentIsAddedToThePlaying) {
    Player p(WaveBuilder::counting(1000, 1));
    std::fill(p.live[0].begin(), p.live[0].end(), 0.25f);
    ASSERT_TRUE(mixAccompanimentFrom(p.state, p.buffers, true, p.channels, 1, 64, 44100.0f, 1.0f));
    EXPECT_FLOAT_EQ(p.live[0][3], 0.25f + 3 * kStep16);
}

TEST(AccompanimentMix, NothingHappensWithoutAFileOrWhilePaused) {
    Player p(WaveBuilder::counting(1000));
    const int headerReads = p.file->reads;
    p.playing = false;
    EXPECT_TRUE(p.mix(256, 48000.0f));
    EXPECT_EQ(p.framePosition(), 0u);
    EXPECT_EQ(p.file->reads, headerReads);

    WaveFileState none;
    DeckBuffers buffers;
    EXPECT_TRUE(mixAccompanimentFrom(none, buffers, true, p.channels, 2, 256, 48000.0f, 1.0f));

    p.playing = true;
    EXPECT_TRUE(p.mix(256, 0.0f)) << "no host rate: nothing to mix";
    EXPECT_TRUE(p.mix(256, std::nanf("")));
    EXPECT_EQ(p.framePosition(), 0u);
}

TEST(AccompanimentMix, AReadErrorIsRaisedOnceAndMixingStaysOff) {
    Player p(WaveBuilder::counting(1000));
    ASSERT_TRUE(p.mix(256, 44100.0f));
    p.file->readsLeftBeforeError = 0;
    EXPECT_FALSE(p.mix(256, 44100.0f));
    EXPECT_TRUE(takeErrorFlag(kFlagAccompReadError));
    const int reads = p.file->reads;
    p.file->readsLeftBeforeError = -1;  // the disk is back; the file stays in error
    EXPECT_FALSE(p.mix(256, 44100.0f));
    EXPECT_FALSE(takeErrorFlag(kFlagAccompReadError)) << "reported once";
    EXPECT_EQ(p.file->reads, reads);
    EXPECT_EQ(p.live[0][0], 0.0f);
}

TEST(AccompanimentMix, AShortReadIsAReadErrorNotStaleAudio) {
    Player p(WaveBuilder::counting(1000));
    ASSERT_TRUE(p.mix(256, 44100.0f));  // the byte buffer now holds frames 0..255
    p.file->shortReadsFrom = 44 + 256 * 4 + 100;  // the file ends early, as if cut while open
    EXPECT_FALSE(p.mix(256, 44100.0f));
    EXPECT_TRUE(takeErrorFlag(kFlagAccompReadError));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(p.live[0][i], 0.0f);
}

TEST(AccompanimentMix, AFailedSeekIsAReadError) {
    Player p(WaveBuilder::counting(300));
    p.file->failSeeks = true;
    ASSERT_TRUE(p.mix(256, 44100.0f));
    EXPECT_FALSE(p.mix(256, 44100.0f)) << "the loop's seek to the start of the data";
    EXPECT_TRUE(takeErrorFlag(kFlagAccompReadError));
}

TEST(AccompanimentMix, WideFramesStayInsideTheByteBuffer) {
    WaveBuilder w;
    w.channels = 1;
    w.bits = 16;
    w.rate = 1000;
    w.blockAlign = 60000;  // legal: at least the sample's two bytes
    w.data.assign(60000 * 8, 0);
    Player p(w);
    ASSERT_TRUE(p.mix(1024, 100.0f));  // one output needs 10 frames, the byte buffer holds 3
    EXPECT_EQ(p.framePosition(), 0u) << "nothing fits: nothing is read";
    ASSERT_TRUE(p.mix(300, 400.0f));  // 750 frames, read at most 3 at a time
    EXPECT_EQ(p.framePosition(), 750u % 8u);
}

TEST(AccompanimentMix, ARateTooLowToConvertMixesSilenceNotAnEarlierBlock) {
    Player p(WaveBuilder::counting(1000, 2, 400));  // 8 frames for 1024 at 48000: the converter writes nothing
    for (float* c : p.buffers.converted)
        std::fill(c, c + DeckBuffers::kMaxFrames, 1.0f);
    ASSERT_TRUE(p.mix(1024, 48000.0f));
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(p.live[0][i], 0.0f);
}

namespace {

// A mono tone as 32-bit float samples, so that the file itself is clean to well below
// what the converter is measured at.
WaveBuilder floatTone(int frames, double frequency, uint32_t rate, float amplitude) {
    WaveBuilder w;
    w.formatTag = 3;
    w.bits = 32;
    w.channels = 1;
    w.rate = rate;
    w.data.resize(size_t(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        const float v = float(amplitude * std::sin(2.0 * SineMeasure::kPi * frequency * i / rate));
        std::memcpy(&w.data[size_t(i) * 4], &v, 4);
    }
    return w;
}

}  // namespace

TEST(AccompanimentMix, AConvertedToneIsCleanAndItsLoopPointAndSeeksStayWithinItsOwnStep) {
    // 13337 frames of 440 Hz: the end of the data and its start meet at different
    // phases, as a seek to frame 6000 does from wherever it leaves.
    const int dataFrames = 13337;
    const float amplitude = 0.8f;
    Player p(floatTone(dataFrames, 440.0, 44100, amplitude));
    std::vector<float> out;
    for (int block = 0; block < 240; ++block) {
        if (block == 100 || block == 170) {  // two seeks, to different phases of the tone
            p.state.seekTarget = uint32_t(block == 100 ? 6000 : 2500) * 4;
            p.state.seekPending.store(true);
        }
        ASSERT_TRUE(p.mix(256, 48000.0f));
        out.insert(out.end(), p.live[0].begin(), p.live[0].begin() + 256);
    }
    const double ownStep = amplitude * 2.0 * std::sin(SineMeasure::kPi * 440.0 / 48000.0);
    const double joinInTheData = amplitude * std::fabs(std::sin(2.0 * SineMeasure::kPi * 440.0 * dataFrames / 44100.0));
    ASSERT_GT(joinInTheData, 4.0 * ownStep) << "the loop point is a step in the data itself";
    double largest = 0.0;
    for (size_t i = 1; i < out.size(); ++i)
        largest = std::max(largest, double(std::fabs(out[i] - out[i - 1])));
    EXPECT_LE(largest, ownStep * 1.001);
    EXPECT_GT(largest, ownStep * 0.99) << "the tone is playing";

    // Play after a pause, with a seek made while paused: it starts from silence.
    p.playing = false;
    ASSERT_TRUE(p.mix(256, 48000.0f));
    p.state.seekTarget = 9000u * 4;
    p.state.seekPending.store(true);
    p.playing = true;
    ASSERT_TRUE(p.mix(256, 48000.0f));
    float previous = 0.0f;
    for (int i = 0; i < 256; ++i) {
        ASSERT_LE(std::fabs(p.live[0][i] - previous), ownStep * 1.001) << i;
        previous = p.live[0][i];
    }

    // Between the seams the tone is the file's, at the host's rate.
    const SineMeasure m(out.data() + 2000, 10000, 440.0, 48000.0);
    EXPECT_GE(m.sinadDb, 100.0);
    EXPECT_NEAR(m.frequency, 440.0, 0.01);
    EXPECT_NEAR(m.amplitude, amplitude, amplitude * 0.006);  // 0.05 dB
}

// A pause fades the tone out and playing on fades it in again, at the file's own rate
// (copied sample for sample otherwise) and converted: no step is larger than the
// tone's own, and the pause is silent after its 5 ms. A play during a pause's fade goes
// back up from where the fade had got to.
TEST(AccompanimentMix, PauseAndPlayFadeInsteadOfStepping) {
    const float amplitude = 0.8f;
    for (float hostRate : {44100.0f, 48000.0f}) {
        SCOPED_TRACE(hostRate);
        Player p(floatTone(44100, 440.0, 44100, amplitude));
        const double ownStep = amplitude * 2.0 * std::sin(SineMeasure::kPi * 440.0 / hostRate);
        const int fade = int(hostRate / 200.0f);
        std::vector<float> out;
        auto mixBlocks = [&](int blocks, int frames) {
            for (int b = 0; b < blocks; ++b) {
                ASSERT_TRUE(p.mix(frames, hostRate));
                out.insert(out.end(), p.live[0].begin(), p.live[0].begin() + frames);
            }
        };
        mixBlocks(5, 100);
        // The pause comes where the tone is loud, so that stopping at once would step.
        for (int b = 0; b < 100 && std::fabs(out.back()) < 0.5f * amplitude; ++b)
            mixBlocks(1, 7);
        ASSERT_GT(std::fabs(out.back()), 0.5f * amplitude);
        p.playing = false;
        const uint32_t pausedAt = p.framePosition();
        mixBlocks(6, 100);  // 600 frames: the fade, then silence
        for (size_t i = out.size() - size_t(600 - fade); i < out.size(); ++i)
            ASSERT_EQ(out[i], 0.0f) << "paused, frame " << i;
        EXPECT_GT(p.framePosition(), pausedAt) << "the fade-out plays on through the data";
        const uint32_t stoppedAt = p.framePosition();
        mixBlocks(2, 100);
        EXPECT_EQ(p.framePosition(), stoppedAt) << "a pause reads nothing";
        p.playing = true;
        mixBlocks(6, 100);
        // A pause and a play in the middle of the fade-out.
        p.playing = false;
        mixBlocks(1, fade / 3);
        p.playing = true;
        mixBlocks(6, 100);

        double largest = 0.0;
        for (size_t i = 1; i < out.size(); ++i)
            largest = std::max(largest, double(std::fabs(out[i] - out[i - 1])));
        EXPECT_LE(largest, ownStep * 1.001);
        EXPECT_GT(std::fabs(out.back()) + std::fabs(out[out.size() - 30]), 0.1f) << "playing again";
    }
}
