// The tuner's detector and tracker on synthesised instrument signals: accuracy over
// the range, low strings with a weak fundamental, settling on a new note, and input
// that must show no note or the stronger one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "PitchDetector.h"
#include "TunerSignals.h"
#include "TunerTracker.h"

namespace {

struct Shown {
    double seconds;
    TunerDisplay display;
};

// Feeds the signal in driver blocks of 256 frames and analyses every 1024, as the
// tuner does; every display with the time of the audio it came from.
std::vector<Shown> listen(const std::vector<float>& signal, double rate, double referenceA = 440.0) {
    PitchDetector detector(rate);
    EXPECT_TRUE(detector.ok());
    TunerTracker tracker;
    tracker.setReferenceA(referenceA);
    std::vector<Shown> out;
    for (size_t at = 0; at + 256 <= signal.size(); at += 256) {
        detector.feed(signal.data() + at, 256);
        if (detector.fedSinceAnalysis() >= 1024) {
            const double seconds = double(at + 256) / rate;
            out.push_back({seconds, tracker.update(detector.analyse(), seconds)});
        }
    }
    return out;
}

double centsOff(const TunerDisplay& d, double truth) { return 1200.0 * std::log2(d.frequency / truth); }

std::string noteOf(const TunerDisplay& d) {
    return d.showing ? std::string(d.note.name) + std::to_string(d.note.octave) : std::string("-");
}

// Every display from `from` seconds on shows the note, within `worst` cents; the
// errors are appended to errors.
void expectSteadyNote(const std::vector<Shown>& shown, double from, double truth, const char* name, double worst,
                      std::vector<double>* errors = nullptr) {
    int judged = 0;
    for (const Shown& s : shown) {
        if (s.seconds < from)
            continue;
        ++judged;
        ASSERT_EQ(noteOf(s.display), name) << "at " << s.seconds << " s";
        const double off = centsOff(s.display, truth);
        EXPECT_LE(std::fabs(off), worst) << name << " at " << s.seconds << " s";
        if (errors)
            errors->push_back(std::fabs(off));
    }
    EXPECT_GT(judged, 5);
}

std::vector<float> concat(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Tuner, ReadsPluckedNotesAcrossTheRangeToATenthOfACent) {
    for (double rate : {44100.0, 96000.0}) {  // 48 kHz: the low strings below
        SCOPED_TRACE(rate);
        std::vector<double> errors;
        int n = 0;
        for (int midi = 23; midi <= 88; midi += 3, ++n) {  // B0 (30.9 Hz) to E6 (1.32 kHz)
            PluckedNote note;
            const double detune = (n % 2 ? 13.1 : -7.3) * (n % 3 ? 1.0 : -1.0);
            note.frequency = 440.0 * std::pow(2.0, (midi - 69 + detune / 100.0) / 12.0);
            note.noiseDb = -40.0;
            note.seed = uint32_t(midi);
            NoteReading expected;
            ASSERT_TRUE(readNote(note.frequency, 440.0, &expected));
            EXPECT_EQ(expected.note, midi);
            const std::string name = std::string(expected.name) + std::to_string(expected.octave);
            expectSteadyNote(listen(pluck(note, rate), rate), 0.35, note.frequency, name.c_str(), 0.5, &errors);
        }
        std::sort(errors.begin(), errors.end());
        const double median = errors[errors.size() / 2];
        std::printf("[ accuracy ] %.0f Hz: median %.3f cents, worst %.3f cents over %zu readings\n", rate, median,
                    errors.back(), errors.size());
        EXPECT_LE(median, 0.1);
    }
}

TEST(Tuner, LowStringsWithAWeakFundamentalReadTheirOwnOctave) {
    const double rate = 48000.0;
    // A bass's low E with its fundamental 20 dB under the second harmonic, hum and
    // noise; a five-string's low B; a dropped guitar's low D (and at A = 432 Hz).
    PluckedNote lowE;
    lowE.frequency = 41.2034 * std::pow(2.0, 4.0 / 1200.0);
    lowE.fundamentalDb = -20.0;
    lowE.humDb = -45.0;
    lowE.noiseDb = -45.0;
    lowE.seconds = 1.5;  // judged while the string rings within 10 dB of its attack
    expectSteadyNote(listen(pluck(lowE, rate), rate), 0.4, lowE.frequency, "E1", 1.0);

    PluckedNote lowB = lowE;
    lowB.frequency = 30.8677 * std::pow(2.0, -6.0 / 1200.0);
    lowB.fundamentalDb = -6.0;
    expectSteadyNote(listen(pluck(lowB, rate), rate), 0.4, lowB.frequency, "B0", 1.0);

    PluckedNote dropD = lowE;
    dropD.frequency = 73.4162 * 432.0 / 440.0;
    dropD.fundamentalDb = -10.0;
    const std::vector<Shown> atLowerA = listen(pluck(dropD, rate), rate, 432.0);
    expectSteadyNote(atLowerA, 0.4, dropD.frequency, "D2", 1.0);
    EXPECT_LT(std::fabs(atLowerA.back().display.note.cents), 1.0) << "read against A = 432 Hz";
}

// From the first audio of a new note (after another note, or after silence) until
// the display has the note within a cent and keeps it.
double settlingSeconds(const std::vector<Shown>& shown, double onset, double truth, const std::string& name) {
    double settled = -1.0;
    for (const Shown& s : shown) {
        if (s.seconds < onset)
            continue;
        const bool right = noteOf(s.display) == name && std::fabs(centsOff(s.display, truth)) <= 1.0;
        if (right && settled < 0.0)
            settled = s.seconds;
        else if (!right)
            settled = -1.0;
    }
    return settled < 0.0 ? 1e9 : settled - onset;
}

TEST(Tuner, SettlesOnANewNoteQuickly) {
    const double rate = 44100.0;
    struct Change {
        double from, to;
        const char* name;
        double within;
    };
    const Change changes[] = {{110.0, 146.832, "D3", 0.15}, {82.407, 87.307, "F2", 0.15},
                              {329.63, 246.94, "B3", 0.15}, {0.0, 196.0, "G3", 0.15},
                              {41.203, 55.0, "A1", 0.3},    {55.0, 30.868, "B0", 0.3}};
    for (const Change& c : changes) {
        SCOPED_TRACE(c.name);
        PluckedNote first, second;
        first.frequency = c.from > 0.0 ? c.from : 100.0;
        first.level = c.from > 0.0 ? 0.5 : 0.0;
        first.seconds = 1.0;
        first.noiseDb = second.noiseDb = -40.0;
        second.frequency = c.to;
        second.seconds = 1.0;
        const std::vector<Shown> shown = listen(concat(pluck(first, rate), pluck(second, rate)), rate);
        const double took = settlingSeconds(shown, 1.0, c.to, c.name);
        std::printf("[ settling ] %s after %.1f Hz: %.0f ms\n", c.name, c.from, took * 1000.0);
        EXPECT_LE(took, c.within);
    }
}

TEST(Tuner, ShowsNoNoteForSilenceOrNoiseAndTheStrongerNoteOrNoneForTheRest) {
    const double rate = 44100.0;
    const size_t second = size_t(rate);
    auto showsNothing = [&](const std::vector<float>& signal, const char* what) {
        for (const Shown& s : listen(signal, rate))
            ASSERT_FALSE(s.display.showing) << what << " showed " << noteOf(s.display) << " at " << s.seconds;
    };
    showsNothing(std::vector<float>(2 * second, 0.0f), "silence");
    for (double level : {0.01, 0.3, 1.0}) {
        PluckedNote noise;
        noise.level = 0.0;
        std::vector<float> white = pluck(noise, rate);  // silence, to which noise is added
        uint32_t state = uint32_t(level * 1000);
        white.resize(3 * second);
        for (float& x : white) {
            state = state * 1664525u + 1013904223u;
            x = float(level * ((double(state >> 8) / double(1u << 24)) * 2.0 - 1.0));
        }
        showsNothing(white, "white noise");
    }
    showsNothing(std::vector<float>(2 * second, 0.5f), "DC");

    // A full-scale square wave and a hard-clipped pluck are still their notes.
    std::vector<float> square(2 * second);
    for (size_t n = 0; n < square.size(); ++n)
        square[n] = std::fmod(double(n) * 110.0 / rate, 1.0) < 0.5 ? 1.0f : -1.0f;
    expectSteadyNote(listen(square, rate), 0.3, 110.0, "A2", 1.0);
    PluckedNote loud;
    loud.frequency = 196.0;
    loud.level = 8.0;
    loud.seconds = 2.0;
    std::vector<float> clipped = pluck(loud, rate);
    for (float& x : clipped)
        x = std::max(-1.0f, std::min(1.0f, x));
    expectSteadyNote(listen(clipped, rate), 0.3, 196.0, "G3", 1.0);

    // Two notes at once: the stronger one, or nothing, never a third.
    PluckedNote strong, weak;
    strong.frequency = 110.0;
    weak.frequency = 138.59;
    weak.level = 0.25;
    strong.seconds = weak.seconds = 2.0;
    std::vector<float> chord = pluck(strong, rate);
    const std::vector<float> other = pluck(weak, rate);
    for (size_t n = 0; n < chord.size(); ++n)
        chord[n] += other[n];
    int shownNotes = 0;
    for (const Shown& s : listen(chord, rate)) {
        if (!s.display.showing)
            continue;
        ++shownNotes;
        ASSERT_EQ(noteOf(s.display), "A2") << "at " << s.seconds;
    }
    std::printf("[ two notes] the stronger shown in %d readings\n", shownNotes);

    // A sweep and samples that are not numbers: no crash, and a note after them.
    std::vector<float> sweep(3 * second);
    double phase = 0.0;
    for (size_t n = 0; n < sweep.size(); ++n) {
        phase += 2.0 * 3.14159265358979 * 30.0 * std::pow(4000.0 / 30.0, double(n) / double(sweep.size())) / rate;
        sweep[n] = float(0.5 * std::sin(phase));
    }
    std::vector<float> broken(second / 10, std::nanf(""));
    broken[10] = INFINITY;
    PluckedNote after;
    after.frequency = 440.0;
    const std::vector<Shown> shown = listen(concat(concat(sweep, broken), pluck(after, rate)), rate);
    EXPECT_EQ(noteOf(shown.back().display), "A4");
}

TEST(Tuner, NamesNotesAgainstTheReference) {
    NoteReading r;
    ASSERT_TRUE(readNote(440.0, 440.0, &r));
    EXPECT_EQ(r.note, 69);
    EXPECT_STREQ(r.name, "A");
    EXPECT_EQ(r.octave, 4);
    EXPECT_NEAR(r.cents, 0.0, 1e-9);
    ASSERT_TRUE(readNote(41.2034, 440.0, &r));
    EXPECT_STREQ(r.name, "E");
    EXPECT_EQ(r.octave, 1);
    ASSERT_TRUE(readNote(30.8677 * std::pow(2.0, 49.0 / 1200.0), 440.0, &r));
    EXPECT_STREQ(r.name, "B");
    EXPECT_EQ(r.octave, 0);
    EXPECT_NEAR(r.cents, 49.0, 0.01);
    ASSERT_TRUE(readNote(261.6256 * std::pow(2.0, -51.0 / 1200.0), 440.0, &r));
    EXPECT_STREQ(r.name, "B") << "51 cents flat of C4 is B3";
    EXPECT_EQ(r.octave, 3);
    ASSERT_TRUE(readNote(432.0, 432.0, &r));
    EXPECT_EQ(r.note, 69);
    EXPECT_DOUBLE_EQ(validReferenceA(400.0), 440.0);
    EXPECT_DOUBLE_EQ(validReferenceA(std::nan("")), 440.0);
    EXPECT_DOUBLE_EQ(validReferenceA(466.0), 466.0);
    EXPECT_FALSE(readNote(0.0, 440.0, &r));
    EXPECT_FALSE(readNote(-5.0, 440.0, &r));
    EXPECT_FALSE(readNote(INFINITY, 440.0, &r));
}

}  // namespace
