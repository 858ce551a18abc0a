// The setlist in the hosted program, driven as a player drives it: three
// performances put in through the Setlist window's Add, one moved up, one set to
// start its backing track, saved (relative paths, the file's own first line) and
// opened again at the next start; Page Down from the frame and the arrow keys in
// the Setlist window switching, with the mark and the chain following; a setlist
// named on the command line with a missing and a damaged performance, both named in
// one box and skipped while the rest plays, and switched by program changes; changes
// kept for the show offered for the performances' files at the close; a switch while
// live input runs, gapless, with the outgoing echo ringing on for the tail set in the
// window. Screenshots go to the build folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "WinInclude.h"

#include "DriverSettings.h"
#include "EffectHost.h"
#include "EffectSlot.h"
#include "LiveEngine.h"
#include "MidiControl.h"
#include "ErrorFlags.h"
#include "HostedProgram.h"
#include "LiveSettings.h"
#include "PerformanceFormat.h"
#include "ProgramMidi.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "SetlistSession.h"
#include "SetlistWindow.h"
#include "ShellState.h"
#include "SwitchPoint.h"
#include "UnixPrograms.h"
#include "WavFiles.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kBin = TALVENOR_BIN_DIR;
const std::string kOurPlugins = kBin + "VST Plugins\\";
const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

std::string folder(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + name + "\\";
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A performance of one effect in position 1, written by the program's own writer.
bool writePerformanceOf(const std::string& path, const std::string& plugin) {
    PerformanceImage image{};
    std::vector<uint8_t> record(parameterRecordSize(0));
    writeParameterRecord(record.data(), nullptr, 0);
    PerformancePosition& p = image.positions[0];
    p.occupied = true;
    std::snprintf(p.path, sizeof p.path, "%s", (kOurPlugins + plugin).c_str());
    p.state = record.data();
    p.stateSize = uint32_t(record.size());
    std::vector<uint8_t> file(performanceFileSize(image));
    if (file.empty() || !writePerformance(image, file.data(), file.size()))
        return false;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    return bool(out);
}

// The file name of the plug-in in the first position, "" when it is empty.
std::string firstEffect() {
    const EffectSlot* slot = g_liveSettings->slots[0];
    if (!slot)
        return "";
    const std::string path = slot->path;
    return path.substr(path.find_last_of('\\') + 1);
}

// The Setlist window's control pressed, as a click would (posted: it may open a box).
void press(int control) {
    PostMessageA(g_windows.setlist, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                 LPARAM(GetDlgItem(g_windows.setlist, control)));
}

void selectRow(int row) {
    SendDlgItemMessageA(g_windows.setlist, IDC_SETLIST_LIST, LB_SETCURSEL, WPARAM(row), 0);
    SendMessageA(g_windows.setlist, WM_COMMAND, MAKEWPARAM(IDC_SETLIST_LIST, LBN_SELCHANGE),
                 LPARAM(GetDlgItem(g_windows.setlist, IDC_SETLIST_LIST)));
}

std::vector<std::string> entryNames() {
    std::vector<std::string> names;
    for (int i = 0; i < setlistEntryCount(); ++i)
        names.push_back(setlistEntryView(i).name);
    return names;
}

// Entry index on stage: the setlist says so, the window draws its mark there and
// the chain is that performance's.
void expectOnStage(int index, const std::string& effect, const char* when) {
    EXPECT_TRUE(waitUntil([&] { return currentSetlistEntry() == index; }, kTimeout))
        << when << ": on stage " << currentSetlistEntry();
    EXPECT_TRUE(waitUntil([&] { return setlistWindowMarkedRow() == index; }, kTimeout))
        << when << ": marked " << setlistWindowMarkedRow();
    EXPECT_EQ(firstEffect(), effect) << when;
}

// How many loaded plug-ins come from a file of that name, and whether the one of
// that serial is still loaded.
int loadedFrom(const std::string& file) {
    int count = 0;
    for (const EffectSlot* slot = g_effectHost->slotList(); slot; slot = slot->next) {
        const std::string path = slot->path;
        count += path.size() >= file.size() && path.compare(path.size() - file.size(), file.size(), file) == 0;
    }
    return count;
}

bool serialLoaded(uint32_t serial) {
    for (const EffectSlot* slot = g_effectHost->slotList(); slot; slot = slot->next)
        if (slot->serial == serial)
            return true;
    return false;
}

// The largest output peak of the blocks seen over ms milliseconds.
float loudestOutput(DWORD ms) {
    float loudest = 0.0f;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        loudest = std::fmax(loudest, std::fmax(g_liveEngine->outputPeakLeft(), g_liveEngine->outputPeakRight()));
        Sleep(2);
    }
    return loudest;
}

void useBuiltInDriver() {
    ASSERT_TRUE(saveDriverChoices("Monitor of instrument", "speakers", 1024, 4));
    RegistryKey settings(kSettingsKeyPath, true);
    settings.setText("asioDevice", "ZerevaZ-2-UDID wrapper");
}

void prepareSettings() {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    RegistryKey settings(kSettingsKeyPath, true);
    settings.setText("szAppDir", kBin);
    settings.setPair("frameWndSize", 640, 460);
    settings.setPair("setlistWndPos", 660, 40);
    clearErrorFlag(~0u);
}

}  // namespace

TEST(SetlistWindow, BuildSaveReopenAndSwitchByTheKeys) {
    prepareSettings();
    const std::string gig = folder("talvenor-gig");
    const std::string opener = gig + "Opener.tlp", ballad = gig + "Ballad Two.tlp", encore = gig + "Encore.tlp";
    ASSERT_TRUE(writePerformanceOf(opener, "Overdrive.dll"));
    ASSERT_TRUE(writePerformanceOf(ballad, "Filtrace.dll"));
    ASSERT_TRUE(writePerformanceOf(encore, "Modulane.dll"));
    const std::string setlistPath = gig + "Friday.tlset";
    DeleteFileA(setlistPath.c_str());

    {
        HostedProgram program;
        ASSERT_TRUE(program.start(""));
        HWND frame = program.waitForFrame(kTimeout);
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(waitForTicks(2));
        EXPECT_EQ(menuItemState(frame, IDC_CMD_SHOW_SETLIST).found, true);
        ASSERT_TRUE(postCommand(frame, IDC_CMD_SHOW_SETLIST));
        ASSERT_TRUE(waitUntil([] { return IsWindowVisible(g_windows.setlist) != FALSE; }, kTimeout));
        EXPECT_EQ(windowText(g_windows.setlist), "Setlist");
        EXPECT_EQ(GetWindow(g_windows.setlist, GW_OWNER), frame);
        EXPECT_EQ(setlistEntryCount(), 0);
        ASSERT_TRUE(takeScreenshot(kScreenshots, "setlist-empty"));

        // Add, each after the one selected.
        for (const std::string& path : {opener, ballad, encore}) {
            const int before = setlistEntryCount();
            press(IDC_SETLIST_ADD);
            ASSERT_TRUE(answerFileDialog(kPid, "Add Performances", path, kTimeout)) << path;
            ASSERT_TRUE(waitUntil([&] { return setlistEntryCount() == before + 1; }, kTimeout)) << path;
        }
        EXPECT_EQ(entryNames(), (std::vector<std::string>{"Opener", "Ballad Two", "Encore"}));
        EXPECT_EQ(setlistWindowSelectedRow(), 2);
        EXPECT_TRUE(setlistChanged());
        // The encore moves up one, then the ballad (now last) starts its backing track.
        press(IDC_SETLIST_UP);
        ASSERT_TRUE(waitUntil([] { return setlistEntryView(1).name == "Encore"; }, kTimeout));
        EXPECT_EQ(setlistWindowSelectedRow(), 1);
        selectRow(2);
        // A click ticks the box first, then tells the window.
        SendDlgItemMessageA(g_windows.setlist, IDC_SETLIST_AUTOPLAY, BM_SETCHECK, BST_CHECKED, 0);
        press(IDC_SETLIST_AUTOPLAY);
        ASSERT_TRUE(waitUntil([] { return setlistEntryView(2).autoplay; }, kTimeout));
        EXPECT_FALSE(setlistEntryView(0).autoplay);

        press(IDC_SETLIST_SAVE);  // never saved: asks for a name
        ASSERT_TRUE(answerFileDialog(kPid, "Save Setlist As", setlistPath, kTimeout));
        ASSERT_TRUE(waitUntil([] { return !setlistChanged(); }, kTimeout));
        EXPECT_EQ(readText(setlistPath), "talvenor-setlist 1\nOpener.tlp\nEncore.tlp\nBallad Two.tlp\tautoplay\n");
        EXPECT_EQ(std::string(setlistFilePath()), setlistPath);

        // Page Down with the frame active brings the first entry on, then the next;
        // the arrow keys in the Setlist window go on and back; Page Up goes back
        // while the Setlist window is active.
        EXPECT_EQ(currentSetlistEntry(), -1);
        ASSERT_TRUE(pressKeys(frame, {VK_NEXT}));
        expectOnStage(0, "Overdrive.dll", "first Page Down");
        EXPECT_EQ(windowText(frame), "Talvenor Live 2.10 (Opener)");
        ASSERT_TRUE(pressKeys(frame, {VK_NEXT}));
        expectOnStage(1, "Modulane.dll", "second Page Down");
        EXPECT_EQ(setlistWindowDisplay(), "2 / 3  Encore");
        ASSERT_TRUE(pressKeys(g_windows.setlist, {VK_DOWN}));
        expectOnStage(2, "Filtrace.dll", "down arrow in the Setlist window");
        ASSERT_TRUE(pressKeys(g_windows.setlist, {VK_NEXT}));  // the last: nothing beyond it
        Sleep(300);
        EXPECT_EQ(currentSetlistEntry(), 2);
        ASSERT_TRUE(pressKeys(g_windows.setlist, {VK_PRIOR}));
        expectOnStage(1, "Modulane.dll", "Page Up in the Setlist window");
        ASSERT_TRUE(pressKeys(g_windows.setlist, {VK_UP}));
        expectOnStage(0, "Overdrive.dll", "up arrow in the Setlist window");
        ASSERT_TRUE(takeScreenshot(kScreenshots, "setlist-on-stage"));

        // A changed performance is asked about before the switch; Cancel stays.
        g_liveSettings->bypass[0] = 1;
        ASSERT_TRUE(pressKeys(frame, {VK_NEXT}));
        HWND confirm = waitForDialogCaption(kPid, "Confirm", kTimeout);
        ASSERT_NE(confirm, nullptr);
        ASSERT_TRUE(pressButton(confirm, IDCANCEL));
        Sleep(200);
        EXPECT_EQ(currentSetlistEntry(), 0);
        EXPECT_EQ(firstEffect(), "Overdrive.dll");
        // Kept for the show: no question, and the change comes back with the entry.
        SendDlgItemMessageA(g_windows.setlist, IDC_SETLIST_KEEP_CHANGES, BM_SETCHECK, BST_CHECKED, 0);
        press(IDC_SETLIST_KEEP_CHANGES);
        ASSERT_TRUE(waitUntil([] { return keepChangesForShow(); }, kTimeout));
        ASSERT_TRUE(pressKeys(frame, {VK_NEXT}));
        expectOnStage(1, "Modulane.dll", "a switch with the change kept");
        EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
        EXPECT_TRUE(setlistEntryView(0).kept);
        ASSERT_TRUE(pressKeys(frame, {VK_PRIOR}));
        expectOnStage(0, "Overdrive.dll", "back to the changed one");
        EXPECT_EQ(g_liveSettings->bypass[0], 1);
        EXPECT_EQ(windowText(frame), "Talvenor Live 2.10 (Opener)");
        // Closing offers the kept changes for the performances' files: Yes.
        PostMessageA(frame, WM_CLOSE, 0, 0);
        HWND kept = waitForDialogCaption(kPid, "Confirm", kTimeout);
        ASSERT_NE(kept, nullptr);
        const std::string question = messageBoxText(kept);
        EXPECT_EQ(question.rfind("Changes to these performances were kept for the show", 0), 0u) << question;
        EXPECT_NE(question.find(opener), std::string::npos) << question;
        EXPECT_EQ(question.find(encore), std::string::npos) << question;
        ASSERT_TRUE(pressButton(kept, IDYES));
        ASSERT_TRUE(program.waitForExit(kTimeout)) << describeDialogs(kPid);
    }
    EXPECT_EQ(readText(setlistPath), "talvenor-setlist 1\nOpener.tlp\nEncore.tlp\nBallad Two.tlp\tautoplay\n");

    // The next start opens the last setlist with its first entry on stage.
    {
        RegistryKey settings(kSettingsKeyPath, false);
        std::string stored;
        ASSERT_TRUE(settings.readText("szSetlistFile", &stored));
        EXPECT_EQ(stored, setlistPath);
        HostedProgram program;
        ASSERT_TRUE(program.start(""));
        ASSERT_NE(program.waitForFrame(kTimeout), nullptr);
        ASSERT_TRUE(waitUntil([] { return setlistEntryCount() == 3; }, kTimeout));
        expectOnStage(0, "Overdrive.dll", "the next start");
        EXPECT_EQ(g_liveSettings->bypass[0], 1);  // the kept change, saved into the file at the close
        EXPECT_TRUE(IsWindowVisible(g_windows.setlist));
        EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
        ASSERT_TRUE(program.closeDiscarding(kTimeout));
    }
}

TEST(SetlistWindow, MissingAndDamagedPerformancesAreNamedOnceAndSkipped) {
    prepareSettings();
    // The built-in driver, so that MIDI control runs at the blocks.
    useBuiltInDriver();
    const std::string gig = folder("talvenor-gig-damaged");
    ASSERT_TRUE(writePerformanceOf(gig + "One.tlp", "Overdrive.dll"));
    ASSERT_TRUE(writePerformanceOf(gig + "Four.tlp", "Filtrace.dll"));
    writeText(gig + "Three.tlp", "not a performance at all");
    DeleteFileA((gig + "Two.tlp").c_str());
    const std::string setlistPath = gig + "Saturday.tlset";
    const std::string text = "talvenor-setlist 1\r\n# Saturday\r\nOne.tlp\r\nTwo.tlp\r\n\r\nThree.tlp\r\nFour.tlp\r\n";
    writeText(setlistPath, text);

    HostedProgram program;
    ASSERT_TRUE(program.start("\"" + setlistPath + "\""));
    const MessageBoxSeen box = waitForMessageBox(kPid, "Talvenor Live", kTimeout);
    ASSERT_NE(box.window, nullptr);
    const std::string shown = messageBoxText(box.window);
    EXPECT_EQ(shown.rfind("These performances of the setlist cannot be opened", 0), 0u) << shown;
    EXPECT_NE(shown.find("Two.tlp (not found)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Three.tlp ("), std::string::npos) << shown;
    EXPECT_EQ(shown.find("One.tlp"), std::string::npos) << shown;
    ASSERT_TRUE(takeScreenshot(kScreenshots, "setlist-unusable-box"));
    ASSERT_TRUE(pressButton(box.window, IDOK));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << "named once: " << describeDialogs(kPid);
    EXPECT_EQ(setlistEntryCount(), 4);
    EXPECT_TRUE(setlistEntryView(1).unusable);
    EXPECT_TRUE(setlistEntryView(2).unusable);
    EXPECT_TRUE(setlistEntryView(1).missing);
    EXPECT_FALSE(setlistEntryView(2).missing);  // there, but damaged
    expectOnStage(0, "Overdrive.dll", "the command line's setlist");
    ASSERT_TRUE(pressKeys(frame, {VK_NEXT}));
    expectOnStage(3, "Filtrace.dll", "Page Down past the two");
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    ASSERT_TRUE(takeScreenshot(kScreenshots, "setlist-unusable"));

    // Program changes from a MIDI input (its feed, beneath the multimedia functions)
    // with nothing bound: program 0 is the first entry; program 2 names a damaged
    // one, which is told in a box and changes nothing; program 9 is beyond the list.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->running(); }, kTimeout));
    const uint8_t first[] = {0xC0, 0x00};
    g_midiControl->deviceFeed(0).bytes(first, sizeof first, 0);
    expectOnStage(0, "Overdrive.dll", "program change 0");
    const uint8_t beyond[] = {0xC3, 0x09};
    g_midiControl->deviceFeed(0).bytes(beyond, sizeof beyond, 0);
    ASSERT_TRUE(waitForTicks(5));
    EXPECT_EQ(currentSetlistEntry(), 0);
    const uint8_t damaged[] = {0xC0, 0x02};
    g_midiControl->deviceFeed(0).bytes(damaged, sizeof damaged, 0);
    const MessageBoxSeen failed = waitForMessageBox(kPid, "Error #34", kTimeout);
    ASSERT_NE(failed.window, nullptr);
    EXPECT_NE(messageBoxText(failed.window).find("Three.tlp"), std::string::npos) << messageBoxText(failed.window);
    ASSERT_TRUE(pressButton(failed.window, IDOK));
    EXPECT_EQ(currentSetlistEntry(), 0);
    EXPECT_EQ(firstEffect(), "Overdrive.dll");
    const uint8_t last[] = {0xC0, 0x03};
    g_midiControl->deviceFeed(0).bytes(last, sizeof last, 0);
    expectOnStage(3, "Filtrace.dll", "program change 3");
    EXPECT_TRUE(g_liveEngine->running());
    // Saving keeps the entries that could not be opened.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_SAVE_SETLIST));
    ASSERT_TRUE(waitForTicks(3));
    EXPECT_EQ(readText(setlistPath), "talvenor-setlist 1\nOne.tlp\nTwo.tlp\nThree.tlp\nFour.tlp\n");
    ASSERT_TRUE(program.closeDiscarding(kTimeout));
}

TEST(SetlistWindow, SwitchWhileLiveInputRunsLetsTheEchoRingOn) {
    prepareSettings();
    useBuiltInDriver();
    const std::string gig = folder("talvenor-gig-gapless");
    ASSERT_TRUE(writePerformanceOf(gig + "Echoes.tlp", "..\\test-plugins\\TestEcho.dll"));
    ASSERT_TRUE(writePerformanceOf(gig + "Drive.tlp", "Overdrive.dll"));
    const std::string setlistPath = gig + "Sunday.tlset";
    writeText(setlistPath, "talvenor-setlist 1\nEchoes.tlp\nDrive.tlp\n");

    HostedProgram program;
    ASSERT_TRUE(program.start("\"" + setlistPath + "\""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(waitForTicks(2));
    expectOnStage(0, "TestEcho.dll", "the command line's setlist");
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    // The tail as the window sets it: two seconds.
    ASSERT_TRUE(waitUntil([] { return IsWindowVisible(g_windows.setlist) != FALSE; }, kTimeout));
    SetDlgItemTextA(g_windows.setlist, IDC_SETLIST_TAIL, "2");
    EXPECT_EQ(setlistTailSeconds(), 2);

    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->running(); }, kTimeout));
    // The next performance is made ready beside the running one.
    EXPECT_TRUE(waitUntil([] { return loadedFrom("Overdrive.dll") == 1; }, kTimeout));
    const uint32_t echo = g_liveSettings->slots[0]->serial;
    // What the chain gives with nothing played: the floor the tail is heard over.
    const float floor = loudestOutput(300);

    // A short note into the echo; once it is over, only the echo's repeats sound.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string note = std::string(temp) + "talvenor-gapless-note.wav";
    std::vector<std::vector<float>> tone(2, std::vector<float>(44100 / 4));
    for (size_t i = 0; i < tone[0].size(); ++i)
        tone[0][i] = tone[1][i] = 0.5f * float(std::sin(2.0 * 3.14159265358979 * 330.0 * double(i) / 44100.0));
    ASSERT_TRUE(writeWav16(note, 44100, tone));
    ASSERT_TRUE(playIntoSink("instrument", note));
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->inputPeakLeft() > 0.1f; }, kTimeout)) << "the note never came in";
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->inputPeakLeft() < 0.002f; }, kTimeout)) << "the note did not end";
    const float before = loudestOutput(300);
    EXPECT_GT(before, 0.02f) << "the echo repeats the note";

    // Page Down: the incoming chain is in place at once, no question for the
    // unchanged performance (the one made ready beside it is no change), and the
    // outgoing echo stays loaded while it rings.
    const uint32_t switchesBefore = g_switchPoint->switchesInstalled();
    ASSERT_TRUE(pressKeys(frame, {VK_NEXT}));
    expectOnStage(1, "Overdrive.dll", "Page Down while live input runs");
    const DWORD switchedAt = GetTickCount();
    EXPECT_EQ(g_switchPoint->switchesInstalled(), switchesBefore + 1) << "a switch at a block, not a File, Open";
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10 (Drive)");
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_TRUE(serialLoaded(echo)) << "the outgoing echo was unloaded at the switch";
    EXPECT_TRUE(g_switchPoint->tailRinging());
    // The tail is heard while the incoming chain gets nothing but silence.
    const float tail = loudestOutput(600);
    EXPECT_GT(tail, 0.005f) << "the echo's tail is not heard after the switch";
    EXPECT_TRUE(serialLoaded(echo)) << "unloaded within the tail";
    // The previous entry is made ready again (a second echo) while the first rings.
    EXPECT_TRUE(waitUntil([] { return loadedFrom("TestEcho.dll") == 2; }, kTimeout)) << loadedFrom("TestEcho.dll");
    ASSERT_TRUE(takeScreenshot(kScreenshots, "setlist-gapless-tail"));

    // After the tail the outgoing echo goes, and the output falls silent.
    ASSERT_TRUE(waitUntil([echo] { return !serialLoaded(echo); }, kTimeout)) << "the echo stayed after its tail";
    EXPECT_GE(GetTickCount() - switchedAt, DWORD(1500)) << "unloaded before its two seconds were over";
    EXPECT_FALSE(g_switchPoint->tailRinging());
    const float after = loudestOutput(300);
    // (-40 dB: the bench's capture may let a trace of the note's end through the drive)
    EXPECT_LT(after, std::fmax(2.0f * floor, 0.01f)) << "something still sounds after the tail";
    EXPECT_GT(tail, 10.0f * after) << "the tail was not clearly louder than what follows it";
    std::printf("output peaks: floor %.5f, echo before the switch %.4f, tail after it %.4f, after the tail %.5f\n",
                floor, before, tail, after);
    EXPECT_EQ(loadedFrom("TestEcho.dll"), 1);

    // Back: the echo made ready comes on, again without a question.
    ASSERT_TRUE(pressKeys(frame, {VK_PRIOR}));
    expectOnStage(0, "TestEcho.dll", "Page Up while live input runs");
    EXPECT_EQ(g_switchPoint->switchesInstalled(), switchesBefore + 2);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_NE(g_liveSettings->slots[0]->serial, echo);
    stopPlayers("talvenor-gapless-note");
    ASSERT_TRUE(program.closeDiscarding(kTimeout));
}
