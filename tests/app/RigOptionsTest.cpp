#include <gtest/gtest.h>

#include "RigOptions.h"

namespace {

bool parse(std::vector<const char*> args, RigOptions& o, std::string& error) {
    args.insert(args.begin(), "talvenor-rig");
    return parseRigOptions(int(args.size()), args.data(), o, error);
}

}  // namespace

TEST(RigOptions, DefaultsAreTheBuiltInDriverAndADirectTake) {
    RigOptions o;
    std::string error;
    ASSERT_TRUE(parse({}, o, error));
    EXPECT_EQ(o.driver, "ZerevaZ-2-UDID wrapper");
    EXPECT_TRUE(o.record);
    EXPECT_FALSE(o.ramTake);
    EXPECT_EQ(o.formatIndex, 7);
    EXPECT_EQ(o.seconds, 0.0);
    EXPECT_EQ(o.inputGain, 0.75f);
}

TEST(RigOptions, ReadsEffectsGainsAndTheTake) {
    RigOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--fx", "0=C:\\VST\\Over drive.dll", "--fx", "7=D:\\x=y.dll", "--bypass", "7", "--method",
                       "ram", "--format", "19", "--in-gain", "20", "--out-gain", "-60", "--seconds", "12.5",
                       "--tempo", "90", "--metronome", "--no-take", "--driver", "My Card ASIO", "--blocks", "8",
                       "--buffer", "1024"},
                      o, error))
        << error;
    ASSERT_EQ(o.effects.size(), 2u);
    EXPECT_EQ(o.effects[0].position, 0);
    EXPECT_EQ(o.effects[0].path, "C:\\VST\\Over drive.dll");
    EXPECT_EQ(o.effects[1].path, "D:\\x=y.dll");  // split at the first '='
    EXPECT_EQ(o.bypassed, std::vector<int>{7});
    EXPECT_TRUE(o.ramTake);
    EXPECT_EQ(o.formatIndex, 19);
    EXPECT_EQ(o.inputGain, 1.0f);   // +20 dB is the top of the knob
    EXPECT_EQ(o.outputGain, 0.0f);  // -60 dB its bottom
    EXPECT_EQ(o.seconds, 12.5);
    EXPECT_EQ(o.tempoBpm, 90.0);
    EXPECT_TRUE(o.metronome);
    EXPECT_FALSE(o.record);
    EXPECT_EQ(o.driver, "My Card ASIO");
    EXPECT_EQ(o.bufferCount, 8);
    EXPECT_EQ(o.bufferFrames, 1024);
}

TEST(RigOptions, RefusesWhatItCannotUse) {
    const std::vector<std::vector<const char*>> bad = {
        {"--fx", "8=a.dll"}, {"--fx", "a.dll"},     {"--fx", "=a.dll"},      {"--fx", "1="},
        {"--bypass", "-1"},  {"--format", "20"},    {"--format", "3.5"},     {"--method", "tape"},
        {"--seconds", "x"},  {"--tempo", "250"},    {"--in-gain", "21"},     {"--out-gain", "nan"},
        {"--buffer", "4"},   {"--take"},            {"--frobnicate"},        {"--blocks", "12"},
        {"--blocks", "1"},   {"--dx-mode", "wasapi"}, {"--dx-mode"},
    };
    for (const auto& args : bad) {
        RigOptions o;
        std::string error;
        EXPECT_FALSE(parse(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(RigOptions, DxModeNamesTheBuiltInDriversModeAndLeavingItOutKeepsTheStoredOne) {
    RigOptions kept;
    std::string error;
    ASSERT_TRUE(parse({}, kept, error));
    EXPECT_EQ(kept.driverMode, -1);
    const struct {
        const char* name;
        int mode;
    } modes[] = {{"exclusive", 2}, {"shared", 1}, {"directsound", 0}};
    for (const auto& m : modes) {
        RigOptions o;
        ASSERT_TRUE(parse({"--dx-mode", m.name}, o, error)) << error;
        EXPECT_EQ(o.driverMode, m.mode) << m.name;
    }
}

TEST(RigOptions, ReadsTheShowOptionsAndRefusesWhatDoesNotGoTogether) {
    RigOptions o;
    std::string error;
    ASSERT_TRUE(parse({"--setlist", "gig.tlset", "--midi-script", "pedals.midi", "--switch-tail", "7.5", "--tail",
                       "0.5", "--render", "dry.wav", "--out", "wet.wav"},
                      o, error))
        << error;
    EXPECT_EQ(o.setlist, "gig.tlset");
    EXPECT_EQ(o.midiScript, "pedals.midi");
    EXPECT_EQ(o.tailSeconds, 7.5);
    EXPECT_EQ(o.render.tailSeconds, 0.5);  // the render's own --tail is another thing
    RigOptions d;
    ASSERT_TRUE(parse({"--performance", "song.tlp"}, d, error)) << error;
    EXPECT_EQ(d.performance, "song.tlp");
    EXPECT_EQ(d.tailSeconds, 3.0);

    RigOptions bad;
    EXPECT_FALSE(parse({"--switch-tail", "11"}, bad, error));
    EXPECT_NE(error.find("0 to 10"), std::string::npos) << error;
    EXPECT_FALSE(parse({"--setlist", "a.tlset", "--performance", "b.tlp"}, bad, error));
    EXPECT_NE(error.find("do not go together"), std::string::npos) << error;
    RigOptions fx;
    EXPECT_FALSE(parse({"--performance", "b.tlp", "--fx", "0=x.dll"}, fx, error));
    EXPECT_NE(error.find("--fx"), std::string::npos) << error;
    EXPECT_FALSE(parse({"--midi-script"}, bad, error));
}
