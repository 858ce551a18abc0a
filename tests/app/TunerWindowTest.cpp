// The tuner and tap tempo, hosted on a thread of this test and driven as a player
// drives them: Ctrl+T opens the tuner over a note played into the instrument input,
// which it names with its octave, cents and frequency while the output falls silent;
// the reference A moves the reading, the mute choices follow their boxes, closing
// lets the output sound again; T taps the metronome's tempo. Choices stored out of
// range come back as the defaults, the ones made come back at the next start, with
// the window's place. Screenshots of the states go to the build folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "WinInclude.h"

#include "DriverSettings.h"
#include "ErrorFlags.h"
#include "HostedProgram.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "Toolbar.h"
#include "TunerTap.h"
#include "TunerWindow.h"
#include "TunerWorker.h"
#include "UnixPrograms.h"
#include "VuMeter.h"
#include "WavFiles.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const char kBuiltInDriver[] = "ZerevaZ-2-UDID wrapper";
const DWORD kTimeout = 20000;

// D3 is 146.83 Hz against A 440, so 147.5 Hz reads 7.9 cents sharp; against A 442
// it is D3 itself.
const double kToneHz = 147.5;

struct Shown {
    TunerFaceText text{};
    uint64_t serial = 0;
};

Shown tunerShows() {
    Shown shown;
    tunerWindowShows(g_windows.tuner, &shown.text, &shown.serial);
    return shown;
}

double number(const char* text) { return std::strtod(text, nullptr); }

bool outputSilent() {
    return meterLitSegments(outputMeterWindow(), 0) == 0 && meterLitSegments(outputMeterWindow(), 1) == 0;
}
bool outputSounds() { return meterLitSegments(outputMeterWindow(), 0) >= 30; }

bool checked(int id) { return IsDlgButtonChecked(g_windows.tuner, id) == BST_CHECKED; }
void click(int id) { SendDlgItemMessageA(g_windows.tuner, id, BM_CLICK, 0, 0); }

// Notes one after the other, each with its first four harmonics (fundamental scales the
// first: a low string's fundamental is weaker than its second harmonic).
struct Note {
    double hz, seconds, fundamental;
};
std::string writeNotes(const std::vector<Note>& notes) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + "talvenor-tuner-tone.wav";
    std::vector<std::vector<float>> tone(2);
    double phase = 0.0;
    for (const Note& note : notes) {
        for (size_t i = 0; i < size_t(44100 * note.seconds); ++i) {
            phase += 2.0 * 3.14159265358979 * note.hz / 44100.0;
            const double t = phase;
            const float s = float(note.fundamental * std::sin(t) + 0.2 * std::sin(2 * t) + 0.1 * std::sin(3 * t) +
                                  0.05 * std::sin(4 * t));
            tone[0].push_back(s);
            tone[1].push_back(s);
        }
    }
    return writeWav16(path, 44100, tone) ? path : std::string();
}

// The note and octave shown, "D3", or "-".
std::string noteShown() {
    const Shown shown = tunerShows();
    return std::string(shown.text.note) + shown.text.octave;
}

void tapT(HWND frame, int times, DWORD apartMs) {
    for (int i = 0; i < times; ++i) {
        if (i > 0) Sleep(apartMs);
        ASSERT_TRUE(pressKeys(frame, {'T'}));
    }
}

std::string toolbarTempo(bool* lit) {
    char text[16] = "";
    *lit = false;
    return toolbarTempoShown(g_windows.toolbar, text, sizeof text, lit) ? text : "(none)";
}

class TunerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        forgetProgramSettings();
        ASSERT_TRUE(createSettingsKeys());
        ASSERT_TRUE(saveDriverChoices("Monitor of instrument", "speakers", 1024, 4));
        clearErrorFlag(~0u);
    }
};

}  // namespace

TEST_F(TunerWindowTest, TunesANotePlayedLiveMutesWhileOpenAndTapsTheTempo) {
    {
        RegistryKey key(kSettingsKeyPath, true);
        ASSERT_TRUE(key.valid());
        key.setText("asioDevice", kBuiltInDriver);
        // Out of range: each comes back as its default.
        key.setDword("tunerReferenceA", 500);
        key.setDword("tunerMuteOutput", 7);
        key.setDword("tunerMuteTake", 2);
        key.setPair("tunerWndPos", 5000, -20);
    }
    // A bass's low E and a five-string's low B, both 5 cents sharp, their fundamentals
    // 6 dB under the second harmonic, then the D3 the rest of the visit tunes.
    const double lowE = 41.2034 * std::pow(2.0, 5.0 / 1200.0);
    const double lowB = 30.8677 * std::pow(2.0, 5.0 / 1200.0);
    const std::string tone = writeNotes({{lowE, 8.0, 0.1}, {lowB, 8.0, 0.1}, {kToneHz, 30.0, 0.4}});
    ASSERT_FALSE(tone.empty());

    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_NE(g_windows.tuner, nullptr);
    EXPECT_EQ(windowText(g_windows.tuner), "Tuner");
    EXPECT_EQ(GetWindow(g_windows.tuner, GW_OWNER), frame);
    EXPECT_TRUE(GetWindowLongPtrA(g_windows.tuner, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    EXPECT_FALSE(IsWindowVisible(g_windows.tuner));
    EXPECT_EQ(clientOrigin(g_windows.tuner).x, 700);
    EXPECT_EQ(clientOrigin(g_windows.tuner).y, 0);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->running(); }, kTimeout));
    ASSERT_TRUE(playIntoSink("instrument", tone));
    ASSERT_TRUE(waitUntil(outputSounds, kTimeout)) << "output meter: " << meterLitSegments(outputMeterWindow(), 0);

    // Ctrl+T: the window, its choices at their defaults, listening.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'T'}));
    ASSERT_TRUE(waitUntil([] { return IsWindowVisible(g_windows.tuner) != 0; }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(menuItemState(frame, IDC_CMD_TUNER).checked);
    EXPECT_TRUE(g_tuner->listening());
    EXPECT_TRUE(g_tunerWorker->running());
    EXPECT_TRUE(checked(IDC_TUNER_MUTE_OUTPUT));
    EXPECT_FALSE(checked(IDC_TUNER_MUTE_TAKE));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(g_windows.tuner, IDC_TUNER_MUTE_TAKE)));
    EXPECT_EQ(windowText(GetDlgItem(g_windows.tuner, IDC_TUNER_REFERENCE)), "440");

    // The low strings in their own octave, then the note, its octave, cents and
    // frequency, through the worker and the timer.
    for (const auto& low : {std::make_pair(lowE, "E1"), std::make_pair(lowB, "B0")}) {
        const std::string wanted(low.second);
        EXPECT_TRUE(waitUntil(
            [&] { return noteShown() == wanted && std::fabs(number(tunerShows().text.cents) - 5.0) < 0.5; }, kTimeout))
            << wanted << ": shows " << noteShown() << " " << tunerShows().text.cents;
        EXPECT_NEAR(number(tunerShows().text.frequency), low.first, 0.02) << wanted;
        takeScreenshot(kScreenshots, wanted == "E1" ? "44-tuner-low-e" : "45-tuner-low-b");
    }
    EXPECT_TRUE(waitUntil([] { return std::string(tunerShows().text.note) == "D"; }, kTimeout))
        << "shows " << tunerShows().text.note;
    Shown shown = tunerShows();
    EXPECT_STREQ(shown.text.octave, "3");
    EXPECT_NEAR(number(shown.text.frequency), kToneHz, 0.3) << shown.text.frequency;
    EXPECT_NE(std::string(shown.text.frequency).find(" Hz"), std::string::npos);
    EXPECT_NEAR(number(shown.text.cents), 7.9, 1.5) << shown.text.cents;
    // The output is silent while tuning, the input still heard.
    EXPECT_TRUE(waitUntil(outputSilent, kTimeout)) << "output meter: " << meterLitSegments(outputMeterWindow(), 0);
    EXPECT_GE(meterLitSegments(inputMeterWindow(), 0), 30);
    // Only a new reading repaints: the serial shown follows the tuner's.
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_GT(tunerShows().serial, shown.serial);
    takeScreenshot(kScreenshots, "40-tuner-sharp");

    // A 442 reference: the same note is now in tune.
    SetDlgItemTextA(g_windows.tuner, IDC_TUNER_REFERENCE, "442");
    EXPECT_EQ(g_shell.tunerReferenceA, 442);
    EXPECT_TRUE(waitUntil([] { return std::fabs(number(tunerShows().text.cents)) < 1.5; }, kTimeout))
        << tunerShows().text.cents;
    EXPECT_STREQ(tunerShows().text.note, "D");
    takeScreenshot(kScreenshots, "41-tuner-in-tune");

    // A half-typed or foreign reference is not taken, and leaving the field puts the
    // one in use back.
    SetDlgItemTextA(g_windows.tuner, IDC_TUNER_REFERENCE, "41");
    SetDlgItemTextA(g_windows.tuner, IDC_TUNER_REFERENCE, "470");
    EXPECT_EQ(g_shell.tunerReferenceA, 442);
    SendMessageA(g_windows.tuner, WM_COMMAND, MAKEWPARAM(IDC_TUNER_REFERENCE, EN_KILLFOCUS), 0);
    EXPECT_EQ(windowText(GetDlgItem(g_windows.tuner, IDC_TUNER_REFERENCE)), "442");

    // Not muting: the output sounds with the tuner open, and the take's choice is
    // greyed; muting again silences it.
    click(IDC_TUNER_MUTE_OUTPUT);
    EXPECT_FALSE(checked(IDC_TUNER_MUTE_OUTPUT));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(g_windows.tuner, IDC_TUNER_MUTE_TAKE)));
    EXPECT_TRUE(waitUntil(outputSounds, kTimeout));
    click(IDC_TUNER_MUTE_OUTPUT);
    click(IDC_TUNER_MUTE_TAKE);
    EXPECT_TRUE(checked(IDC_TUNER_MUTE_TAKE));
    EXPECT_TRUE(g_shell.tunerMuteTake);
    EXPECT_TRUE(g_tuner->mutesRecording());
    EXPECT_TRUE(waitUntil(outputSilent, kTimeout));
    // Moved by the player, closed with its close box: listening ends, the output
    // sounds again.
    const RECT outer = windowRect(g_windows.tuner);
    const POINT origin = clientOrigin(g_windows.tuner);
    SetWindowPos(g_windows.tuner, nullptr, 210 - (origin.x - outer.left), 160 - (origin.y - outer.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(g_windows.tuner, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(g_windows.tuner));
    EXPECT_FALSE(g_tuner->listening());
    EXPECT_FALSE(g_tunerWorker->running());
    EXPECT_TRUE(waitUntil(outputSounds, kTimeout)) << "output meter: " << meterLitSegments(outputMeterWindow(), 0);
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_FALSE(menuItemState(frame, IDC_CMD_TUNER).checked);

    // T four times, 0.4 s apart: 150 BPM, lit in the toolbar's readout while tapping.
    bool lit = false;
    EXPECT_EQ(toolbarTempo(&lit), "120.0");
    EXPECT_FALSE(lit);
    tapT(frame, 4, 400);
    // The keys arrive on the program's thread after they were sent.
    EXPECT_TRUE(waitUntil([] { return std::fabs(g_liveSettings->tempo * 0.01 - 150.0) <= 3.0; }, 2000))
        << g_liveSettings->tempo;
    ASSERT_TRUE(waitForTicks(2));
    const std::string tapped = toolbarTempo(&lit);
    EXPECT_NEAR(number(tapped.c_str()), g_liveSettings->tempo * 0.01, 0.051) << tapped;
    EXPECT_TRUE(lit);
    takeScreenshot(kScreenshots, "42-tap-tempo");
    // After a pause the count starts afresh: two taps 0.75 s apart are 80 BPM.
    Sleep(2300);
    ASSERT_TRUE(waitForTicks(2));
    toolbarTempo(&lit);
    EXPECT_FALSE(lit) << "still lit after the pause";
    tapT(frame, 2, 750);
    EXPECT_TRUE(waitUntil([] { return std::fabs(g_liveSettings->tempo * 0.01 - 80.0) <= 1.5; }, 2000))
        << g_liveSettings->tempo;
    const int32_t tempo = g_liveSettings->tempo;
    ASSERT_TRUE(program.close(kTimeout));
    stopPlayers("talvenor-tuner-tone");

    {
        RegistryKey key(kSettingsKeyPath, false);
        uint32_t value = 0;
        EXPECT_TRUE(key.readDword("tunerMuteOutput", &value) && value == 1) << value;
        EXPECT_TRUE(key.readDword("tunerMuteTake", &value) && value == 1) << value;
        EXPECT_TRUE(key.readDword("tunerReferenceA", &value) && value == 442) << value;
        EXPECT_TRUE(key.readDword("tempo", &value) && int32_t(value) == tempo) << value;
        int32_t x = 0, y = 0;
        EXPECT_TRUE(key.readPair("tunerWndPos", &x, &y));
        EXPECT_EQ(x, 210);
        EXPECT_EQ(y, 160);
    }

    // The next start keeps them: the toolbar's Tuner button opens the window at its
    // place with the choices made.
    HostedProgram again;
    ASSERT_TRUE(again.start(""));
    frame = again.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    const RECT button = toolbarButtonRect(8);
    EXPECT_EQ(toolbarButtonCommand(8), IDC_CMD_TUNER);
    const LPARAM at = MAKELPARAM((button.left + button.right) / 2, (button.top + button.bottom) / 2);
    SendMessageA(g_windows.toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(g_windows.toolbar, WM_LBUTTONUP, 0, at);
    ASSERT_TRUE(waitUntil([] { return IsWindowVisible(g_windows.tuner) != 0; }, kTimeout));
    EXPECT_TRUE(checked(IDC_TUNER_MUTE_OUTPUT));
    EXPECT_TRUE(checked(IDC_TUNER_MUTE_TAKE));
    EXPECT_EQ(windowText(GetDlgItem(g_windows.tuner, IDC_TUNER_REFERENCE)), "442");
    EXPECT_EQ(clientOrigin(g_windows.tuner).x, 210);
    EXPECT_EQ(clientOrigin(g_windows.tuner).y, 160);
    EXPECT_EQ(int32_t(g_liveSettings->tempo), tempo);
    // No note heard (live input is off): a dash.
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_STREQ(tunerShows().text.note, "-");
    EXPECT_STREQ(tunerShows().text.frequency, "- Hz");
    takeScreenshot(kScreenshots, "43-tuner-no-note");
    // Its toolbar button closes it again.
    SendMessageA(g_windows.toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(g_windows.toolbar, WM_LBUTTONUP, 0, at);
    EXPECT_FALSE(IsWindowVisible(g_windows.tuner));
    EXPECT_FALSE(g_tuner->listening());
    ASSERT_TRUE(again.close(kTimeout));
}
