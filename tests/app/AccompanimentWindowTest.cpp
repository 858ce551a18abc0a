// The backing track and the take, driven through the program's windows with the
// program hosted on a thread of this test: the accompaniment opened through its file
// dialog, played, paused with Ctrl+Space, sought, dragged and rewound on the
// navigation bar, its gain knob heard at the output, its name cut for the bar, and
// closed; the recording dialog's states, a RAM take stopped when full and stored
// after its question, a direct take stored by "Done !", and a RAM take whose file
// cannot be created offered to another file. Screenshots go to the build folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "WinInclude.h"

#include "Controls.h"
#include "DriverSettings.h"
#include "ErrorFlags.h"
#include "FrameWindow.h"
#include "HostedProgram.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "NavigationBar.h"
#include "RecordingDialog.h"
#include "RecordingIds.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "TakeJournal.h"
#include "UnixPrograms.h"
#include "WaveDeck.h"
#include "WavFiles.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

std::string tempPath(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + name;
}

// A dialog of this process whose caption is exactly this one.
HWND waitForCaption(const std::string& caption) { return waitForDialogCaption(kPid, caption, kTimeout); }

bool answerFileDialog(const char* caption, const std::string& path) {
    return windriver::answerFileDialog(kPid, caption, path, kTimeout);
}

// A press (and release) on the navigation bar at a client point, the cursor there.
void pressBar(HWND bar, int x, int y, int dragBy = 0) {
    POINT at{x, y};
    ClientToScreen(bar, &at);
    EXPECT_TRUE(placeCursor(at.x, at.y)) << "the cursor would not stay put";
    SendMessageA(bar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    if (dragBy) {
        EXPECT_TRUE(placeCursor(at.x + dragBy, at.y)) << "the cursor would not stay put";
        SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + dragBy, y));
        UpdateWindow(bar);
    }
}
void releaseBar(HWND bar) { SendMessageA(bar, WM_LBUTTONUP, 0, 0); }

// The loudest output sample over half a second.
float outputPeak() {
    float peak = 0.0f;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 500) {
        peak = std::max(peak, g_liveEngine->outputPeakLeft());
        Sleep(5);
    }
    return peak;
}

std::vector<std::vector<float>> tone(double seconds, float amplitude) {
    std::vector<std::vector<float>> samples(2, std::vector<float>(size_t(44100 * seconds)));
    for (size_t i = 0; i < samples[0].size(); ++i)
        samples[0][i] = samples[1][i] = amplitude * float(std::sin(2.0 * 3.14159265358979 * 220.0 * double(i) / 44100.0));
    return samples;
}

class AccompanimentWindow : public ::testing::Test {
protected:
    void SetUp() override {
        forgetProgramSettings();
        ASSERT_TRUE(createSettingsKeys());
        ASSERT_TRUE(saveDriverChoices("Monitor of instrument", "speakers", 1024, 4));
        RegistryKey key(kSettingsKeyPath, true);
        ASSERT_TRUE(key.setText("asioDevice", "ZerevaZ-2-UDID wrapper"));  // loaded at start
        clearErrorFlag(~0u);
        ASSERT_TRUE(program.start(""));
        frame = program.waitForFrame(kTimeout);
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(waitForTicks(2));
        ASSERT_GE(g_liveEngine->currentDriver(), 0);
    }
    void TearDown() override {
        if (frame) {
            EXPECT_TRUE(program.closeDiscarding(kTimeout));
        }
    }
    HostedProgram program;
    HWND frame = nullptr;
};

}  // namespace

TEST_F(AccompanimentWindow, TheBarPlaysSeeksDragsRewindsAndNamesTheTrack) {
    const std::string backing = tempPath("backing.take1.wav");
    ASSERT_TRUE(writeWav16(backing, 44100, tone(4.0, 0.25f)));
    EXPECT_TRUE(menuItemState(frame, IDC_CMD_CLOSE_ACCOMPANIMENT).grayed);
    HWND bar = g_windows.navigationBar;
    EXPECT_FALSE(IsWindowVisible(bar));

    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_ACCOMPANIMENT));
    ASSERT_TRUE(answerFileDialog("Open Accompaniment", backing));
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(bar) != 0; }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(g_waveDeck->isAccompanimentOpen());
    EXPECT_FALSE(menuItemState(frame, IDC_CMD_CLOSE_ACCOMPANIMENT).grayed);
    EXPECT_STREQ(navigationBarName(), "backing.take1");
    EXPECT_EQ(knobValue(navigationBarKnob()), 0.5f);
    EXPECT_EQ(g_liveSettings->accompanimentGain, 1.0f);

    // Playing with live input: the position moves and the timer moves the thumb.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    ASSERT_TRUE(postCommand(frame, IDC_CMD_PLAY));
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->running() && g_waveDeck->playbackPosition() > 0.2; }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_NEAR(navigationBarThumbX(), 128 + 100 * g_waveDeck->playbackPosition(), 6.0);
    takeScreenshot(kScreenshots, "10-navigation-bar-playing");

    // The knob's ends: silence, then twice the middle's level.
    const float middle = outputPeak();
    EXPECT_GT(middle, 0.05f);
    SendMessageA(bar, kKnobValueChanged, reinterpret_cast<WPARAM>(navigationBarKnob()), 0);
    EXPECT_EQ(g_liveSettings->accompanimentGain, 0.0f);
    Sleep(300);
    EXPECT_LT(outputPeak(), middle * 0.05f);
    SendMessageA(bar, kKnobValueChanged, reinterpret_cast<WPARAM>(navigationBarKnob()), 1000);
    EXPECT_EQ(g_liveSettings->accompanimentGain, 2.0f);
    Sleep(300);
    EXPECT_NEAR(outputPeak() / middle, 2.0f, 0.2f);

    // Ctrl+Space pauses and plays again.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, VK_SPACE}));
    ASSERT_TRUE(waitUntil([] { return !g_waveDeck->isPlaying(); }, kTimeout));
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, VK_SPACE}));
    ASSERT_TRUE(waitUntil([] { return g_waveDeck->isPlaying(); }, kTimeout));
    ASSERT_TRUE(postCommand(frame, IDC_CMD_PAUSE));
    ASSERT_TRUE(waitUntil([] { return !g_waveDeck->isPlaying(); }, kTimeout));

    // A click at x 178 seeks to the middle.
    pressBar(bar, 178, 95);
    EXPECT_NEAR(g_waveDeck->playbackPosition(), 0.5, 1e-4);
    releaseBar(bar);
    EXPECT_NEAR(g_waveDeck->playbackPosition(), 0.5, 1e-4);
    // A 300-pixel drag holds the thumb at the end and seeks to 1.0, the start.
    // (The bench's X server may still deliver a move from before the warp: the
    // cursor's move is repeated until the thumb is seen where it rests.)
    pressBar(bar, 150, 95, 300);
    EXPECT_TRUE(waitUntil(
        [&] {
            SendMessageA(bar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(450, 95));
            UpdateWindow(bar);
            return navigationBarThumbX() == 228;
        },
        kTimeout))
        << navigationBarThumbX();
    releaseBar(bar);
    EXPECT_EQ(g_waveDeck->playbackPosition(), 0.0);
    // Rewind acts when released.
    g_waveDeck->seekPlayback(0.75f);
    pressBar(bar, 100, 95);
    EXPECT_NEAR(g_waveDeck->playbackPosition(), 0.75, 1e-4);
    releaseBar(bar);
    EXPECT_EQ(g_waveDeck->playbackPosition(), 0.0);
    // Play on the bar.
    pressBar(bar, 20, 95);
    releaseBar(bar);
    EXPECT_TRUE(g_waveDeck->isPlaying());

    // A long name is cut to 31 characters before its last ".".
    const std::string longName = tempPath("a.rather.long.name.for.a.backing.track.wav");
    ASSERT_TRUE(writeWav16(longName, 44100, tone(1.0, 0.25f)));
    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_ACCOMPANIMENT));
    ASSERT_TRUE(answerFileDialog("Open Accompaniment", longName));
    ASSERT_TRUE(waitUntil([] { return std::string(g_waveDeck->accompaniment().path).find("rather") != std::string::npos; },
                          kTimeout));
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_STREQ(navigationBarName(), "a.rather.long.name.for.a.backin");

    // Closed: the bar goes and the menu item greys.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_CLOSE_ACCOMPANIMENT));
    ASSERT_TRUE(waitUntil([&] { return !IsWindowVisible(bar); }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_FALSE(g_waveDeck->isAccompanimentOpen());
    EXPECT_TRUE(menuItemState(frame, IDC_CMD_CLOSE_ACCOMPANIMENT).grayed);
    DeleteFileA(backing.c_str());
    DeleteFileA(longName.c_str());
}

namespace {

HWND openRecordingDialog(HWND frame) {
    if (!postCommand(frame, IDC_CMD_RECORD))
        return nullptr;
    HWND dialog = waitForCaption("Recording:");
    return dialog && waitUntil([] { return recordingDialogIsOpen(); }, kTimeout) ? dialog : nullptr;
}

void click(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

void typeMaximumTime(HWND dialog, const char* text) {
    SetDlgItemTextA(dialog, IDC_RECORD_MAX_TIME, text);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD_MAX_TIME, EN_KILLFOCUS), 0);
}

// The take's data as the file's own header states it, checked against its size.
uint32_t storedDataBytes(const std::string& path) {
    WavContent content;
    if (!readWav(path, content) || content.channels != 2 || content.sampleRate != 44100 || content.bitsPerSample != 16)
        return 0;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes))
        return 0;
    const uint32_t bytes = uint32_t(content.frames() * 4);
    return attributes.nFileSizeLow == bytes + 44 ? bytes : 0;
}

float loudest(const std::string& path) {
    WavContent content;
    float peak = 0.0f;
    if (readWav(path, content))
        for (float sample : content.samples[0])
            peak = std::max(peak, std::fabs(sample));
    return peak;
}

}  // namespace

// With the instrument silent and the chain at unity, a take of the accompaniment
// holds the file's own samples, from its start, since the take restarts it.
TEST_F(AccompanimentWindow, ATakeOfTheAccompanimentHoldsItsSamples) {
    const std::string backing = tempPath("talvenor-backing-for-take.wav");
    const std::string take = tempPath("talvenor-accompaniment-take.wav");
    DeleteFileA(take.c_str());
    std::vector<std::vector<float>> played = tone(3.0, 0.3f);
    for (size_t i = 0; i < played[1].size(); ++i)
        played[1][i] = 0.2f * float(std::sin(2.0 * 3.14159265358979 * 330.0 * double(i) / 44100.0));
    ASSERT_TRUE(writeWav16(backing, 44100, played));
    WavContent inFile;  // the samples as the file holds them
    ASSERT_TRUE(readWav(backing, inFile));
    played = inFile.samples;
    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_ACCOMPANIMENT));
    ASSERT_TRUE(answerFileDialog("Open Accompaniment", backing));
    ASSERT_TRUE(waitUntil([&] { return IsWindowVisible(g_windows.navigationBar) != 0; }, kTimeout));

    HWND dialog = openRecordingDialog(frame);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(enabled(dialog, IDC_RECORD_START_ACCOMPANIMENT));
    EXPECT_TRUE(enabled(dialog, IDC_RECORD_PLAYING_ONLY));
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RECORD_START_ACCOMPANIMENT), UINT(BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_RECORD_PLAYING_ONLY), UINT(BST_UNCHECKED));
    setRecordingPath(take.c_str());
    click(dialog, IDC_RECORD_START);
    ASSERT_TRUE(waitUntil([] { return g_waveDeck->isRecording() && g_waveDeck->recording().readPosition > 176400 * 2; },
                          kTimeout));
    EXPECT_TRUE(g_waveDeck->isPlaying());
    click(dialog, IDC_RECORD_START);
    ASSERT_TRUE(waitUntil([&] { return windowText(GetDlgItem(dialog, IDC_RECORD_START)) == "Start Recording"; },
                          kTimeout));
    ASSERT_TRUE(pressButton(dialog, IDC_RECORD_DONE, kTimeout));

    WavContent recorded;
    ASSERT_TRUE(readWav(take, recorded));
    ASSERT_EQ(recorded.channels, 2);
    const size_t frames = std::min(recorded.frames(), played[0].size());
    ASSERT_GT(frames, 44100u * 2);
    size_t differing = 0;
    for (size_t channel = 0; channel < 2; ++channel)
        for (size_t i = 0; i < frames; ++i)
            if (std::fabs(recorded.samples[channel][i] - played[channel][i]) > 1.0f / 32768.0f) {
                ++differing;
            }
    EXPECT_EQ(differing, 0u) << "of " << frames << " frames";
    DeleteFileA(take.c_str());
    DeleteFileA(backing.c_str());
}

TEST_F(AccompanimentWindow, TheRecordingDialogsStatesAndTakes) {
    const std::string ramTake = tempPath("talvenor-ram-take.wav");
    const std::string directTake = tempPath("talvenor-direct-take.wav");
    const std::string retried = tempPath("talvenor-retried-take.wav");
    for (const std::string& path : {ramTake, directTake, retried})
        DeleteFileA(path.c_str());
    const std::string riff = tempPath("talvenor-take-tone.wav");
    ASSERT_TRUE(writeWav16(riff, 44100, tone(40.0, 0.5f)));

    // Idle, no accompaniment: both accompaniment boxes disabled, whatever the options.
    g_waveDeck->startAccompaniment = true;
    HWND dialog = openRecordingDialog(frame);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(enabled(dialog, IDC_RECORD_START_ACCOMPANIMENT));
    EXPECT_FALSE(enabled(dialog, IDC_RECORD_PLAYING_ONLY));
    EXPECT_FALSE(enabled(dialog, IDC_RECORD_MAX_TIME));
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_PATH)), "<no file>");
    HWND formats = GetDlgItem(dialog, IDC_RECORD_FORMAT);
    EXPECT_EQ(SendMessageA(formats, CB_GETCOUNT, 0, 0), 20);
    EXPECT_EQ(SendMessageA(formats, CB_GETCURSEL, 0, 0), 7);
    char item[64] = "";
    SendMessageA(formats, CB_GETLBTEXT, 7, reinterpret_cast<LPARAM>(item));
    EXPECT_STREQ(item, "44100 smp/sec, 16 Bits, Stereo");

    // RAM mode and the maximum time field; while it is chosen, the dialog says that a
    // take in memory is lost if the program ends before it is stored.
    HWND ramNote = GetDlgItem(dialog, IDC_RECORD_RAM_NOTE);
    EXPECT_FALSE(IsWindowVisible(ramNote));
    click(dialog, IDC_RECORD_TO_RAM);
    // The program's own thread shows the field and the note one after the other.
    ASSERT_TRUE(waitUntil([&] { return enabled(dialog, IDC_RECORD_MAX_TIME) && IsWindowVisible(ramNote); }, kTimeout))
        << "the note is shown with the maximum time";
    EXPECT_TRUE(g_waveDeck->ramMode);
    EXPECT_EQ(windowText(ramNote), "A RAM take is lost if the program ends unexpectedly.");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_MAX_TIME)), "200 sec");
    typeMaximumTime(dialog, "45");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_MAX_TIME)), "45 sec");
    typeMaximumTime(dialog, "9999");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_MAX_TIME)), "600 sec");
    typeMaximumTime(dialog, "5");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_MAX_TIME)), "10 sec");
    EXPECT_EQ(g_waveDeck->maximumRecordingTime, 10);

    // Start with no file: the save dialog; cancelled, the dialog stays idle.
    click(dialog, IDC_RECORD_START);
    HWND save = waitForCaption("Record to File");
    ASSERT_NE(save, nullptr);
    ASSERT_TRUE(pressButton(save, IDCANCEL));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_FALSE(g_waveDeck->isRecording());
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_START)), "Start Recording");

    // A 10-second RAM take of a tone played in: the counters show what is left of
    // it, and the timer stops it when full; stored after its question.
    click(dialog, IDC_RECORD_BROWSE);
    ASSERT_TRUE(answerFileDialog("Record to File", ramTake));
    ASSERT_TRUE(waitUntil([&] { return windowText(GetDlgItem(dialog, IDC_RECORD_PATH)) == ramTake; }, kTimeout));
    ASSERT_TRUE(playIntoSink("instrument", riff));
    click(dialog, IDC_RECORD_START);
    ASSERT_TRUE(waitUntil([] { return g_waveDeck->isRecording() && g_waveDeck->recording().readPosition > 176400 * 3; },
                          kTimeout));
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_START)), "Stop Recording");
    EXPECT_FALSE(enabled(dialog, IDC_RECORD_FORMAT));
    EXPECT_FALSE(enabled(dialog, IDC_RECORD_TO_RAM));
    takeScreenshot(kScreenshots, "11-recording-dialog-take");
    unsigned minutes = 99, seconds = 99;
    float megabytes = -1.0f;
    ASSERT_TRUE(waitForTicks(2));
    const std::string time = windowText(GetDlgItem(dialog, IDC_RECORD_TIME));
    const std::string space = windowText(GetDlgItem(dialog, IDC_RECORD_SPACE));
    const double recorded = g_waveDeck->recording().readPosition;
    ASSERT_EQ(std::sscanf(time.c_str(), "%u min, %u sec", &minutes, &seconds), 2) << time;
    ASSERT_EQ(std::sscanf(space.c_str(), "%f Mbytes", &megabytes), 1) << space;
    EXPECT_EQ(minutes, 0u);
    EXPECT_NEAR(seconds, 10.0 - recorded / 176400.0, 1.0) << time;
    EXPECT_NEAR(megabytes, (1764000.0 - recorded) / 1048576.0, 0.15) << space;
    HWND question = waitForCaption("Record");
    ASSERT_NE(question, nullptr) << "a full RAM take stops and asks";
    EXPECT_EQ(messageBoxText(question), "The record now should be stored to disk.\nContinue?");
    ASSERT_TRUE(pressButton(question, IDYES));
    // Idle again once the take is stored.
    ASSERT_TRUE(waitUntil([&] { return windowText(GetDlgItem(dialog, IDC_RECORD_START)) == "Start Recording"; },
                          kTimeout));
    EXPECT_EQ(storedDataBytes(ramTake), 1764000u);
    EXPECT_GT(loudest(ramTake), 0.05f) << "the tone played in is in the take";
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_TIME)), "0 min, 0 sec");
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_RECORD_SPACE)), "0 Mb");
    EXPECT_TRUE(enabled(dialog, IDC_RECORD_MAX_TIME));

    // A direct take, stored by "Done !", which ends the dialog.
    click(dialog, IDC_RECORD_TO_RAM);
    ASSERT_TRUE(waitUntil([&] { return !enabled(dialog, IDC_RECORD_MAX_TIME); }, kTimeout));
    setRecordingPath(directTake.c_str());
    click(dialog, IDC_RECORD_START);
    ASSERT_TRUE(waitUntil([] { return g_waveDeck->isRecording() && g_waveDeck->recording().readPosition > 176400; },
                          kTimeout));
    ASSERT_TRUE(pressButton(dialog, IDC_RECORD_DONE, kTimeout));
    EXPECT_FALSE(g_waveDeck->isRecording());
    EXPECT_GE(storedDataBytes(directTake), 176400u);
    EXPECT_GT(loudest(directTake), 0.05f);

    // A RAM take whose file cannot be created: after the error, another file is
    // offered, and the take is stored there.
    dialog = openRecordingDialog(frame);
    ASSERT_NE(dialog, nullptr);
    click(dialog, IDC_RECORD_TO_RAM);
    ASSERT_TRUE(waitUntil([&] { return enabled(dialog, IDC_RECORD_MAX_TIME); }, kTimeout));
    setRecordingPath("C:\\no such folder\\take.wav");
    click(dialog, IDC_RECORD_START);
    ASSERT_TRUE(waitUntil([] { return g_waveDeck->isRecording() && g_waveDeck->recording().readPosition > 176400; },
                          kTimeout));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_RECORD_DONE, BN_CLICKED), 0);
    question = waitForCaption("Record");
    ASSERT_NE(question, nullptr);
    ASSERT_TRUE(pressButton(question, IDYES));
    HWND error = waitForCaption("Error #29");
    ASSERT_NE(error, nullptr);
    ASSERT_TRUE(pressButton(error, IDOK));
    ASSERT_TRUE(answerFileDialog("Record to File", retried));
    ASSERT_TRUE(waitUntil([] { return !recordingDialogIsOpen(); }, kTimeout));
    EXPECT_GE(storedDataBytes(retried), 176400u);
    EXPECT_EQ(std::string(recordingPath()), retried);
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "the stored take reports no error: " << describeDialogs(kPid);
    for (const std::string& path : {ramTake, directTake, retried, riff})
        DeleteFileA(path.c_str());
}

// Without a driver: the recording dialog refuses to open, and an accompaniment that
// is no WAV file is refused with its reason and string 18, the bar staying hidden.
// (Also: a take cut off when the program last ended is repaired as it starts, and the
// player is told once.)
TEST(AccompanimentWithoutDriver, RecordingIsRefusedAndABadFileIsReported) {
    forgetProgramSettings();
    clearErrorFlag(~0u);
    const std::string cutOff = tempPath("talvenor-cut-off-take.wav");
    std::vector<uint8_t> take(44 + 2 * 176400 + 4 * 100, 0x11);
    const uint8_t header[44] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
    std::copy(header, header + 40, take.begin());
    std::fill(take.begin() + 40, take.begin() + 44, 0);  // the sizes the take started with
    FILE* cut = std::fopen(cutOff.c_str(), "wb");
    ASSERT_NE(cut, nullptr);
    ASSERT_EQ(std::fwrite(take.data(), 1, take.size(), cut), take.size());
    std::fclose(cut);
    registryTakeJournal().noteStarted(cutOff.c_str());

    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    const MessageBoxSeen repaired = waitForMessageBox(kPid, "Talvenor Live", kTimeout);
    ASSERT_NE(repaired.window, nullptr);
    EXPECT_NE(repaired.text.find("These takes have been repaired"), std::string::npos) << repaired.text;
    EXPECT_NE(repaired.text.find("talvenor-cut-off-take.wav: 0 min 2 sec"), std::string::npos) << repaired.text;
    takeScreenshot(kScreenshots, "09-take-repaired");
    ASSERT_TRUE(pressButton(repaired.window, IDOK));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    cut = std::fopen(cutOff.c_str(), "rb");
    ASSERT_NE(cut, nullptr);
    uint8_t sizes[44];
    ASSERT_EQ(std::fread(sizes, 1, 44, cut), 44u);
    std::fclose(cut);
    const uint32_t stated = uint32_t(sizes[40]) | uint32_t(sizes[41]) << 8 | uint32_t(sizes[42]) << 16 |
                            uint32_t(sizes[43]) << 24;
    EXPECT_EQ(stated, 2u * 176400 + 400);
    DeleteFileA(cutOff.c_str());
    ASSERT_TRUE(waitForTicks(2));
    ASSERT_LT(g_liveEngine->currentDriver(), 0);

    ASSERT_TRUE(postCommand(frame, IDC_CMD_RECORD));
    const MessageBoxSeen refusal = waitForMessageBox(kPid, "Talvenor Live", kTimeout);
    ASSERT_NE(refusal.window, nullptr);
    EXPECT_EQ(refusal.text, "You should open an audio device before recording");
    ASSERT_TRUE(pressButton(refusal.window, IDOK));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_FALSE(recordingDialogIsOpen());
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    const std::string notWave = tempPath("talvenor-not-a-wave.wav");
    FILE* file = std::fopen(notWave.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("RIFX....WAVEfmt this is no wave file at all", file);
    std::fclose(file);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_ACCOMPANIMENT));
    ASSERT_TRUE(answerFileDialog("Open Accompaniment", notWave));
    for (const char* caption : {"Error #20", "Error #18"}) {
        HWND box = waitForCaption(caption);
        ASSERT_NE(box, nullptr) << caption;
        ASSERT_TRUE(pressButton(box, IDOK));
    }
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_FALSE(g_waveDeck->isAccompanimentOpen());
    EXPECT_FALSE(IsWindowVisible(g_windows.navigationBar));
    EXPECT_TRUE(menuItemState(frame, IDC_CMD_CLOSE_ACCOMPANIMENT).grayed);
    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    DeleteFileA(notWave.c_str());
}
