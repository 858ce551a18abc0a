// Tap tempo as a player taps: steady taps, a rushed tap among them, the last four
// taps only, a pause that starts afresh, the metronome's limits and a clock that
// jumps back.
#include <gtest/gtest.h>

#include <cmath>

#include "LiveSettings.h"
#include "TapTempo.h"

TEST(TapTempo, FollowsTheLastTapsWithinTheMetronomesRange) {
    TapTempo taps;
    EXPECT_FALSE(taps.tap(10.0)) << "one tap tells no tempo";
    EXPECT_EQ(taps.tempo(), 0);
    EXPECT_TRUE(taps.tapping(11.5));
    EXPECT_FALSE(taps.tapping(12.5));
    // 0.4 s apart: 150 BPM.
    EXPECT_TRUE(taps.tap(10.4));
    EXPECT_EQ(taps.tempo(), 15000);
    taps.tap(10.8);
    taps.tap(11.2);
    EXPECT_EQ(taps.tempo(), 15000);
    EXPECT_EQ(taps.taps(), 4);
    // A rushed tap is averaged over the last four: intervals 0.4, 0.4, 0.3.
    taps.tap(11.5);
    EXPECT_EQ(taps.taps(), 4);
    EXPECT_EQ(taps.tempo(), int32_t(std::lround(6000.0 / (1.1 / 3.0))));
    // Steady again at 0.5 s: once the three intervals are all 0.5 s it reads 120.
    taps.tap(12.0);
    taps.tap(12.5);
    EXPECT_NE(taps.tempo(), 12000) << "the rushed interval still counts";
    taps.tap(13.0);
    EXPECT_EQ(taps.tempo(), 12000);

    // A pause of over 2 s: the next tap starts a new count, the tempo is unknown.
    EXPECT_FALSE(taps.tap(15.25));
    EXPECT_EQ(taps.taps(), 1);
    EXPECT_EQ(taps.tempo(), 0);
    // Exactly 2 s still continues; 2 s apart is 30 BPM, limited to 60.
    EXPECT_TRUE(taps.tap(17.25));
    EXPECT_EQ(taps.tempo(), LiveSettings::kMinTempo);
    // Frantic taps are limited to 200 BPM.
    taps.reset();
    for (int i = 0; i < 6; ++i)
        taps.tap(20.0 + 0.0625 * i);
    EXPECT_EQ(taps.tempo(), LiveSettings::kMaxTempo);
    // Two taps at the same instant or a clock running back: a new count.
    EXPECT_FALSE(taps.tap(20.3125));
    EXPECT_FALSE(taps.tap(19.0));
    EXPECT_EQ(taps.taps(), 1);
    EXPECT_FALSE(taps.tap(NAN));
    EXPECT_TRUE(taps.tap(19.75));
    EXPECT_EQ(taps.tempo(), 8000);
}
