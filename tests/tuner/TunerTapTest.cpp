// The tuner as the live chain drives it: the input reaches the analysis thread through
// the ring, the reading follows the note, and the output (and, where chosen, the take)
// is silenced while tuning, without a click either way.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "ChainFixture.h"
#include "TunerSignals.h"
#include "TunerTap.h"
#include "TunerText.h"

namespace {

struct TakeLog : ChainRecorder {
    std::vector<float> left;
    bool tapsBeforeAccompaniment() const override { return true; }
    void recordBlock(float* const* channels, int32_t, int32_t frames, float, float) override {
        left.insert(left.end(), channels[0], channels[0] + frames);
    }
};

float peak(const std::vector<float>& v, size_t from, size_t to) {
    float p = 0.0f;
    for (size_t i = from; i < to && i < v.size(); ++i)
        p = std::max(p, std::fabs(v[i]));
    return p;
}

// The largest step between neighbouring samples: a click is a step far above the
// signal's own.
float largestStep(const std::vector<float>& v) {
    float step = 0.0f;
    for (size_t i = 1; i < v.size(); ++i)
        step = std::max(step, std::fabs(v[i] - v[i - 1]));
    return step;
}

TEST(TunerTap, TheChainFeedsTheTunerWhichMutesTheOutputWhileTuning) {
    const double rate = 48000.0;
    LiveSettings settings;
    makeTransparent(settings);
    LiveChain chain(&settings);
    ASSERT_TRUE(chain.prepareForStart(rate));
    TunerTap tuner;
    TakeLog take;
    chain.attachTuner(&tuner);
    chain.attachRecorder(&take);

    PluckedNote note;
    note.frequency = 82.407 * std::pow(2.0, -12.0 / 1200.0);  // a low E, 12 cents flat
    note.seconds = 4.0;
    note.decaySeconds = 4.0;
    const std::vector<float> signal = pluck(note, rate);

    // The analysis runs on a thread of its own, as in the program; joined however the
    // test ends.
    std::atomic<bool> stop{false};
    std::thread analysis([&] {
        while (!stop.load())
            if (!tuner.work())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    struct Join {
        std::atomic<bool>& stop;
        std::thread& thread;
        ~Join() {
            stop = true;
            thread.join();
        }
    } join{stop, analysis};

    const int block = 240;  // a whole number of blocks in every stretch played
    std::vector<float> out;
    DriverBuffers io(kAsioFloat32LSB, 2, 2, block, rate);
    auto play = [&](size_t from, size_t to) {
        for (size_t at = from; at + block <= to; at += block) {
            const std::vector<float> piece(signal.begin() + long(at), signal.begin() + long(at + block));
            io.setInput(0, piece);
            io.setInput(1, piece);
            io.process(chain);
            const std::vector<float> o = io.output(0);
            out.insert(out.end(), o.begin(), o.end());
            // Faster than real time, but never past what the ring holds: the analysis
            // thread is not starved of anything a driver at real time would give it.
            while (tuner.pendingSamples() > 16384)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    };
    const size_t second = size_t(rate);
    play(0, second / 2);  // not listening: the tuner hears nothing, the output plays
    EXPECT_FALSE(tuner.latest().display.showing);
    EXPECT_GT(peak(out, 0, second / 2), 0.2f);

    tuner.setMuteOutput(true);
    tuner.setMuteRecording(false);
    tuner.setListening(true);
    play(second / 2, 2 * second);
    // The reading has arrived once the thread has caught up.
    for (int wait = 0; wait < 2000 && tuner.latest().seconds < 1.4; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const TunerTap::Reading reading = tuner.latest();
    ASSERT_TRUE(reading.display.showing);
    EXPECT_STREQ(reading.display.note.name, "E");
    EXPECT_EQ(reading.display.note.octave, 2);
    EXPECT_NEAR(reading.display.note.cents, -12.0, 0.3);
    EXPECT_EQ(peak(out, second / 2 + block, 2 * second), 0.0f) << "the output sounded while tuning";
    EXPECT_GT(peak(take.left, second, 2 * second), 0.1f) << "the take was silenced though the player chose not to";

    tuner.setMuteRecording(true);
    play(2 * second, 3 * second);
    EXPECT_EQ(peak(take.left, 2 * second + block, 3 * second), 0.0f) << "the take sounded while tuning";
    EXPECT_EQ(take.left.size(), 3 * second) << "a muted take keeps its time";

    tuner.setListening(false);
    play(3 * second, 4 * second);
    EXPECT_GT(peak(out, 3 * second + block, 4 * second), 0.05f) << "the output stayed muted after tuning";
    EXPECT_GT(peak(take.left, 3 * second + block, 4 * second), 0.05f);
    // Muting and unmuting ramp over a block: no step larger than the note's own.
    EXPECT_LT(largestStep(out), 2.0f * largestStep(signal) + 1e-3f);
    EXPECT_LT(largestStep(take.left), 2.0f * largestStep(signal) + 1e-3f);

    // A line for each whole second heard while listening (1.5 s, then 1 s more).
    TunerTap::Reading logged;
    std::vector<std::string> lines;
    while (tuner.takeSecondReading(&logged)) {
        char line[80];
        ASSERT_TRUE(formatTunerLine(logged.seconds, logged.display, line, sizeof line));
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "1.0 s  E2  -12.0 cents  81.84 Hz");
    EXPECT_EQ(lines[1].substr(0, 11), "2.0 s  E2  ");

    // Listening anew starts from an empty reading at once, and nothing heard before
    // (samples the analysis has not reached, or one under way) shows in it.
    tuner.setListening(true);
    EXPECT_FALSE(tuner.latest().display.showing);
    EXPECT_FALSE(tuner.takeSecondReading(&logged));
    for (int wait = 0; wait < 40; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_FALSE(tuner.latest().display.showing) << "a note from the earlier listening";
    }
}

}  // namespace
