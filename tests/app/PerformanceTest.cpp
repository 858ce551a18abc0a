// Performances in the hosted program: what counts as a change, the question before
// New and Close with Cancel keeping everything, Save As, New and Open bringing back
// positions, bypasses, every plug-in's state byte for byte and the accompaniment;
// Save over the file, saves that fail leaving the file as it was, damaged files
// refused without touching the running performance, missing plug-ins asked about,
// Yes at the close question saving; a performance on the command line; and Open
// and New while live input runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "WinInclude.h"

#include "DriverSettings.h"
#include "EffectHost.h"
#include "LiveEngine.h"
#include "EffectSlot.h"
#include "ErrorFlags.h"
#include "FrameWindow.h"
#include "HostedProgram.h"
#include "LiveSettings.h"
#include "Performance.h"
#include "PerformanceFiles.h"
#include "PerformanceFormat.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "ThreadCheckedPlugin.h"
#include "Vst2Plugin.h"
#include "WaveDeck.h"
#include "WavFiles.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

// The VST 2 effect behind a slot, as the backend holds it.
AEffect* effectOf(const EffectSlot* slot) { return vst2PluginOf(slot->plugin)->effect(); }

const std::string kBin = TALVENOR_BIN_DIR;
const std::string kOurPlugins = kBin + "VST Plugins\\";
const std::string kTestChunks = kBin + "test-plugins\\TestChunks.dll";
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();

using Bytes = std::vector<uint8_t>;

std::string folder(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + name + "\\";
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void setLe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

uint32_t le32(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The header's length and the checksum made right after an edit, so that only the
// edit itself is judged.
void reseal(Bytes& file) {
    setLe32(file, 12, uint32_t(file.size() - 20));
    setLe32(file, file.size() - 4, performanceChecksum(file.data(), file.size() - 4));
}

bool writeTone(const std::string& path, float frequency) {
    std::vector<std::vector<float>> tone(2, std::vector<float>(44100));
    for (size_t i = 0; i < tone[0].size(); ++i)
        tone[0][i] = tone[1][i] = 0.25f * float(std::sin(6.283185307 * frequency * double(i) / 44100.0));
    return writeWav16(path, 44100, tone);
}

bool answerFileDialog(const char* caption, const std::string& path, std::string* offered = nullptr) {
    return windriver::answerFileDialog(kPid, caption, path, kTimeout, offered);
}

void accompaniment(HWND frame, const std::string& path) {
    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_ACCOMPANIMENT));
    ASSERT_TRUE(answerFileDialog("Open Accompaniment", path));
    ASSERT_TRUE(waitUntil([&] { return path == g_waveDeck->accompaniment().path; }, kTimeout));
}

// The running performance as the test compares it.
struct Running {
    EffectSlot* slots[LiveSettings::kPositions];
    uint8_t bypass[LiveSettings::kPositions];
    std::string accompaniment;
    std::string name;
    std::string title;
    Bytes blob;

    static Running now(HWND frame) {
        Running r;
        for (int p = 0; p < LiveSettings::kPositions; ++p) {
            r.slots[p] = g_liveSettings->slots[p];
            r.bypass[p] = g_liveSettings->bypass[p];
        }
        r.accompaniment = g_waveDeck->accompaniment().path;
        r.name = g_liveSettings->performanceName;
        r.title = windowText(frame);
        const uint8_t* blob = nullptr;
        const int32_t length = g_effectHost->buildStateBlob(&blob);
        r.blob.assign(blob, blob + length);
        return r;
    }
};

void expectSame(const Running& a, const Running& b, const char* when) {
    for (int p = 0; p < LiveSettings::kPositions; ++p) {
        EXPECT_EQ(a.slots[p], b.slots[p]) << when << ", position " << p;
        EXPECT_EQ(a.bypass[p], b.bypass[p]) << when << ", position " << p;
    }
    EXPECT_EQ(a.accompaniment, b.accompaniment) << when;
    EXPECT_EQ(a.name, b.name) << when;
    EXPECT_EQ(a.title, b.title) << when;
    EXPECT_EQ(a.blob, b.blob) << when;
}

// An error box: its caption and the first line of its text; closed with OK.
void expectErrorBox(const char* caption, const char* text, const char* detail, const char* when) {
    const MessageBoxSeen box = waitForMessageBox(kPid, "Error #", kTimeout);
    ASSERT_NE(box.window, nullptr) << when;
    EXPECT_EQ(box.caption, caption) << when;
    std::string shown;
    EXPECT_TRUE(waitUntil([&] { return (shown = messageBoxText(box.window)).rfind(text, 0) == 0; }, kTimeout))
        << when << ": " << shown;
    if (detail) {
        EXPECT_NE(shown.find(detail), std::string::npos) << when << ": " << shown;
    }
    ASSERT_TRUE(pressButton(box.window, IDOK)) << when;
}

void setChunk(EffectSlot* slot, const std::string& chunk) {
    effectOf(slot)->dispatcher(effectOf(slot), effSetChunk, 1, VstIntPtr(chunk.size()), const_cast<char*>(chunk.data()),
                             0.0f);
}

using SetChunkAnswerFn = void (*)(int, VstIntPtr, int);

SetChunkAnswerFn chunkAnswerSetter() {
    HMODULE module = GetModuleHandleA(kTestChunks.c_str());
    return module ? reinterpret_cast<SetChunkAnswerFn>(
                        reinterpret_cast<void*>(GetProcAddress(module, "testPluginSetChunkAnswer")))
                  : nullptr;
}

// A performance file made with the program's own writer: one state per position.
Bytes performanceFile(const char* accompanimentPath, const std::vector<std::pair<int, std::string>>& positions,
                      const std::vector<float>& parameters, uint8_t bypass) {
    PerformanceImage image{};
    std::snprintf(image.accompaniment, sizeof image.accompaniment, "%s", accompanimentPath);
    Bytes record(parameterRecordSize(int32_t(parameters.size())));
    writeParameterRecord(record.data(), parameters.data(), int32_t(parameters.size()));
    for (const auto& [position, path] : positions) {
        PerformancePosition& p = image.positions[position];
        p.occupied = true;
        p.bypass = bypass;
        std::snprintf(p.path, sizeof p.path, "%s", path.c_str());
        p.state = record.data();
        p.stateSize = uint32_t(record.size());
    }
    Bytes file(performanceFileSize(image));
    writePerformance(image, file.data(), file.size());
    return file;
}

void prepareSettings() {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    RegistryKey settings(kSettingsKeyPath, true);
    // The start-up scan lists our effects, so a moved plug-in is found by its name.
    settings.setText("szAppDir", kBin);
    settings.setPair("frameWndSize", 600, 440);
    clearErrorFlag(~0u);
}

}  // namespace

TEST(Performance, ChangesQuestionsAndARoundTripThroughAFile) {
    prepareSettings();
    const std::string dir = folder("talvenor-performances");
    const std::string backingA = dir + "backing a.wav", backingB = dir + "backing b.wav";
    ASSERT_TRUE(writeTone(backingA, 220.0f));
    ASSERT_TRUE(writeTone(backingB, 330.0f));
    const std::string show = dir + "show one.tlp";
    DeleteFileA(show.c_str());
    RemoveDirectoryA((show + ".saving").c_str());

    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10");
    EXPECT_FALSE(performanceChanged());

    // The accompaniment alone: the same file closed and opened again is no change,
    // another file is.
    accompaniment(frame, backingA);
    EXPECT_TRUE(performanceChanged());
    snapshotPerformance();
    EXPECT_FALSE(performanceChanged());
    ASSERT_TRUE(postCommand(frame, IDC_CMD_CLOSE_ACCOMPANIMENT));
    ASSERT_TRUE(waitUntil([] { return !g_waveDeck->isAccompanimentOpen(); }, kTimeout));
    EXPECT_TRUE(performanceChanged());
    accompaniment(frame, backingA);
    EXPECT_FALSE(performanceChanged());
    // (No driver runs, so the deck is used directly, without the dialog's wait.)
    ASSERT_TRUE(g_waveDeck->openAccompaniment(backingB.c_str()));
    EXPECT_TRUE(performanceChanged());
    ASSERT_TRUE(g_waveDeck->openAccompaniment(backingA.c_str()));
    EXPECT_FALSE(performanceChanged());

    // Effects: a parameter turned and turned back is no change; the same plug-in
    // unloaded and loaded again is; moving is, and moving back is not; bypassing is.
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(0, (kOurPlugins + "Overdrive.dll").c_str()));
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(1, (kOurPlugins + "Filtrace.dll").c_str()));
    EXPECT_TRUE(performanceChanged());
    snapshotPerformance();
    EXPECT_FALSE(performanceChanged());
    AEffect* filtrace = effectOf(g_liveSettings->slots[1]);
    const float old = filtrace->getParameter(filtrace, 0);
    filtrace->setParameter(filtrace, 0, old < 0.5f ? old + 0.25f : old - 0.25f);
    EXPECT_TRUE(performanceChanged());
    filtrace->setParameter(filtrace, 0, old);
    EXPECT_FALSE(performanceChanged());
    ASSERT_TRUE(g_liveSettings->unloadPosition(1));
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(1, (kOurPlugins + "Filtrace.dll").c_str()));
    EXPECT_TRUE(performanceChanged()) << "another slot, though the same plug-in with the same settings";
    snapshotPerformance();
    g_liveSettings->moveDown(0);
    EXPECT_TRUE(performanceChanged());
    g_liveSettings->moveUp(1);
    EXPECT_FALSE(performanceChanged());
    g_liveSettings->toggleBypass(0);
    EXPECT_TRUE(performanceChanged());
    g_liveSettings->toggleBypass(0);
    EXPECT_FALSE(performanceChanged());

    // The performance to keep: Filtrace bypassed, Overdrive turned, a chunk plug-in
    // with a chunk of its own in position 5.
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(5, kTestChunks.c_str()));
    const std::string chunk("a chunk\0with every byte \xff kept", 31);
    setChunk(g_liveSettings->slots[5], chunk);
    g_liveSettings->toggleBypass(1);
    AEffect* overdrive = effectOf(g_liveSettings->slots[0]);
    overdrive->setParameter(overdrive, 0, 0.3f);
    EXPECT_TRUE(performanceChanged());

    // Cancel at New's question and at Close's: everything stays, windows included.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'F'}));
    ASSERT_TRUE(waitUntil([] { return g_windows.fxManager != nullptr; }, kTimeout));
    const Running before = Running::now(frame);
    for (const char* how : {"New", "Close"}) {
        if (std::strcmp(how, "New") == 0)
            ASSERT_TRUE(postCommand(frame, IDC_CMD_NEW_PERFORMANCE));
        else
            PostMessageA(frame, WM_CLOSE, 0, 0);
        const MessageBoxSeen question = waitForMessageBox(kPid, "Confirm", kTimeout);
        ASSERT_NE(question.window, nullptr) << how;
        EXPECT_EQ(question.text, "Performance was changed. Do you want to save it?");
        ASSERT_TRUE(pressButton(question.window, IDCANCEL));
        ASSERT_TRUE(waitForTicks(2)) << how;
        expectSame(before, Running::now(frame), how);
        EXPECT_TRUE(IsWindow(frame)) << how;
        EXPECT_NE(g_windows.fxManager, nullptr) << how;
        EXPECT_TRUE(IsWindowVisible(g_windows.navigationBar)) << how;
        EXPECT_TRUE(performanceChanged()) << how;
    }
    EXPECT_FALSE(program.waitForExit(200));

    // Save with no name yet asks for one, as Save As does.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'S'}));
    ASSERT_TRUE(answerFileDialog("Save Performance As", show));
    ASSERT_TRUE(waitUntil([&] { return windowText(frame) == "Talvenor Live 2.10 (show one)"; }, kTimeout))
        << windowText(frame);
    EXPECT_EQ(std::string(g_liveSettings->performanceName), show);
    EXPECT_FALSE(performanceChanged());
    EXPECT_FALSE(readFile(show).empty());
    const Running saved = Running::now(frame);
    std::string paths[LiveSettings::kPositions];
    for (int p = 0; p < LiveSettings::kPositions; ++p)
        paths[p] = saved.slots[p] ? saved.slots[p]->path : "";

    // New empties everything without a question.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'N'}));
    ASSERT_TRUE(waitUntil([] { return g_liveSettings->slots[0] == nullptr && g_windows.fxManager == nullptr; },
                          kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10");
    EXPECT_EQ(std::string(g_liveSettings->performanceName), "");
    EXPECT_FALSE(g_waveDeck->isAccompanimentOpen());
    EXPECT_FALSE(IsWindowVisible(g_windows.navigationBar));
    EXPECT_EQ(g_effectHost->slotList(), nullptr);
    EXPECT_FALSE(performanceChanged());

    // Open brings all of it back; the dialog offers the last performance.
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'O'}));
    std::string offered;
    ASSERT_TRUE(answerFileDialog("Open Performance", show, &offered));
    EXPECT_NE(offered.find("show one"), std::string::npos) << offered;
    ASSERT_TRUE(waitUntil([&] { return windowText(frame) == "Talvenor Live 2.10 (show one)"; }, kTimeout));
    const Running opened = Running::now(frame);
    for (int p = 0; p < LiveSettings::kPositions; ++p) {
        EXPECT_EQ(opened.slots[p] ? std::string(opened.slots[p]->path) : std::string(), paths[p]) << p;
        EXPECT_EQ(opened.bypass[p], saved.bypass[p]) << p;
    }
    EXPECT_EQ(opened.bypass[1], 1);
    ASSERT_NE(opened.slots[1], nullptr);
    EXPECT_EQ(opened.slots[1]->suspended, 1) << "a bypassed position's plug-in is switched off";
    EXPECT_EQ(opened.blob, saved.blob) << "every plug-in's state, byte for byte";
    EXPECT_EQ(opened.accompaniment, backingA);
    EXPECT_TRUE(IsWindowVisible(g_windows.navigationBar));
    EXPECT_EQ(opened.name, show);
    EXPECT_FALSE(performanceChanged());

    // Save under the name: no dialog, the file follows the change.
    const Bytes firstSave = readFile(show);
    overdrive = effectOf(g_liveSettings->slots[0]);
    overdrive->setParameter(overdrive, 0, 0.7f);
    EXPECT_TRUE(performanceChanged());
    ASSERT_TRUE(postCommand(frame, IDC_CMD_SAVE_PERFORMANCE));
    ASSERT_TRUE(waitUntil([] { return !performanceChanged(); }, kTimeout));
    const Bytes second = readFile(show);
    EXPECT_NE(second, firstSave);
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    // Saves that fail leave the file as it was: a plug-in whose chunk answer has no
    // data, and a temporary file that cannot be made.
    const SetChunkAnswerFn setChunkAnswer = chunkAnswerSetter();
    ASSERT_NE(setChunkAnswer, nullptr);
    setChunkAnswer(1, 10, 1);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_SAVE_PERFORMANCE));
    expectErrorBox("Error #35", "Failed to save the performance", "without its data", "a chunk without data");
    setChunkAnswer(1, VstIntPtr(kMaxChunkBytes) + 1, 0);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_SAVE_PERFORMANCE));
    expectErrorBox("Error #35", "Failed to save the performance", "at most 16 MiB", "a chunk over the cap");
    setChunkAnswer(0, 0, 0);
    EXPECT_EQ(readFile(show), second);
    ASSERT_TRUE(CreateDirectoryA((show + ".saving").c_str(), nullptr));
    overdrive->setParameter(overdrive, 0, 0.1f);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_SAVE_PERFORMANCE));
    expectErrorBox("Error #35", "Failed to save the performance", nullptr, "a temporary file that cannot be made");
    RemoveDirectoryA((show + ".saving").c_str());
    EXPECT_EQ(readFile(show), second);
    EXPECT_EQ(std::string(g_liveSettings->performanceName), show);
    overdrive->setParameter(overdrive, 0, 0.7f);
    EXPECT_FALSE(performanceChanged());

    // Opened again over itself, its accompaniment open all the while: nothing is
    // asked, and new instances of the same plug-ins take over.
    EffectSlot* const replaced = g_liveSettings->slots[0];
    const uint32_t replacedSerial = replaced->serial;
    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_PERFORMANCE));
    ASSERT_TRUE(answerFileDialog("Open Performance", show));
    ASSERT_TRUE(waitUntil([&] { return g_liveSettings->slots[0] && g_liveSettings->slots[0]->serial != replacedSerial; },
                          kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_EQ(std::string(g_waveDeck->accompaniment().path), backingA);
    EXPECT_FALSE(performanceChanged());

    // Damaged files are refused with 34 and change nothing.
    const size_t slot = 16 + 8 + le32(second, 20);  // the first SLOT, after ACMP
    ASSERT_EQ(std::string(second.begin() + long(slot), second.begin() + long(slot) + 4), "SLOT");
    const size_t pathBytes = second[slot + 10] | second[slot + 11] << 8;
    Bytes truncated(second.begin(), second.end() - 10);
    Bytes pastTheEnd = second;
    setLe32(pastTheEnd, slot + 4, 0x7FFFFFF0u);
    reseal(pastTheEnd);
    Bytes hugeCount = second;
    setLe32(hugeCount, slot + 16 + pathBytes + 5, 0x7FFFFFFFu);
    reseal(hugeCount);
    const Running kept = Running::now(frame);
    const struct {
        const char* name;
        const Bytes& bytes;
        const char* detail;
    } damaged[] = {{"truncated", truncated, "cut off"},
                   {"past the end", pastTheEnd, "do not hold together"},
                   {"huge count", hugeCount, "do not hold together"}};
    // The first through the command and its box; the others through the operation
    // the command runs, which says why in the box's detail.
    bool first = true;
    for (const auto& file : damaged) {
        const std::string path = dir + file.name + ".tlp";
        writeFile(path, file.bytes);
        if (first) {
            ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_PERFORMANCE));
            ASSERT_TRUE(answerFileDialog("Open Performance", path)) << file.name;
            expectErrorBox("Error #34", "Failed to load the performance", file.detail, file.name);
            ASSERT_TRUE(waitForTicks(2));
        } else {
            char detail[600] = "";
            EXPECT_EQ(openPerformanceFile(frame, path.c_str(), detail, sizeof detail), FileOutcome::Failed);
            EXPECT_NE(std::string(detail).find(file.detail), std::string::npos) << file.name << ": " << detail;
        }
        first = false;
        expectSame(kept, Running::now(frame), file.name);
    }

    // Plug-ins that cannot be found: the user is asked. A moved plug-in is found in
    // the list by its name and not asked about.
    const std::string partly = dir + "partly there.tlp";
    writeFile(partly, performanceFile("", {{0, kOurPlugins + "Overdrive.dll"}, {2, "C:\\nowhere\\Vanished.dll"},
                                           {3, "C:\\Old Folder\\Modulane.dll"}},
                                      {0.4f}, 0));
    for (int answer : {IDNO, IDYES}) {
        ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_PERFORMANCE));
        ASSERT_TRUE(answerFileDialog("Open Performance", partly));
        const MessageBoxSeen question = waitForMessageBox(kPid, "Talvenor Live", kTimeout);
        ASSERT_NE(question.window, nullptr);
        std::string text;
        EXPECT_TRUE(waitUntil(
            [&] { return (text = messageBoxText(question.window)).find("without them?") != std::string::npos; },
            kTimeout))
            << question.caption << ": " << text;
        EXPECT_NE(text.find("C:\\nowhere\\Vanished.dll"), std::string::npos) << text;
        EXPECT_EQ(text.find("Modulane"), std::string::npos) << text;
        ASSERT_TRUE(pressButton(question.window, answer));
        ASSERT_TRUE(waitForTicks(2));
        if (answer == IDNO) {
            expectSame(kept, Running::now(frame), "No to the missing plug-in");
            EXPECT_EQ(g_effectHost->slotList(), kept.slots[0]) << "the plug-ins loaded aside are gone";
        }
    }
    ASSERT_TRUE(waitUntil([&] { return windowText(frame) == "Talvenor Live 2.10 (partly there)"; }, kTimeout));
    ASSERT_NE(g_liveSettings->slots[0], nullptr);
    EXPECT_EQ(g_liveSettings->slots[2], nullptr);
    ASSERT_NE(g_liveSettings->slots[3], nullptr);
    EXPECT_EQ(std::string(g_liveSettings->slots[3]->path), kOurPlugins + "Modulane.dll");
    overdrive = effectOf(g_liveSettings->slots[0]);
    EXPECT_EQ(overdrive->getParameter(overdrive, 0), 0.4f);
    EXPECT_EQ(g_liveSettings->slots[5], nullptr);
    EXPECT_FALSE(g_waveDeck->isAccompanimentOpen());
    EXPECT_FALSE(IsWindowVisible(g_windows.navigationBar));
    int loaded = 0;
    for (EffectSlot* s = g_effectHost->slotList(); s; s = s->next)
        ++loaded;
    EXPECT_EQ(loaded, 2) << "the previous plug-ins are unloaded";

    // Yes at the close question saves under the name, then the program ends.
    g_liveSettings->toggleBypass(3);
    EXPECT_TRUE(performanceChanged());
    PostMessageA(frame, WM_CLOSE, 0, 0);
    const MessageBoxSeen question = waitForMessageBox(kPid, "Confirm", kTimeout);
    ASSERT_NE(question.window, nullptr);
    ASSERT_TRUE(pressButton(question.window, IDYES));
    ASSERT_TRUE(program.waitForExit(kTimeout));
    const Bytes last = readFile(partly);
    PerformanceImage image;
    ASSERT_EQ(parsePerformance(last.data(), last.size(), image), PerformanceParse::Ok);
    EXPECT_EQ(image.positions[3].bypass, 1);
    EXPECT_FALSE(image.positions[2].occupied);
    RegistryKey settings(kSettingsKeyPath, false);
    std::string remembered;
    ASSERT_TRUE(settings.readText("szPerfFile", &remembered));
    EXPECT_EQ(remembered, partly);
}

TEST(Performance, OpensThePerformanceNamedOnTheCommandLine) {
    prepareSettings();
    const std::string dir = folder("talvenor performance with blanks");
    const std::string path = dir + "my show.tlp";
    writeFile(path, performanceFile("", {{4, kOurPlugins + "Overdrive.dll"}}, {0.375f}, 1));

    HostedProgram program;
    ASSERT_TRUE(program.start("\"" + path + "\""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10 (my show)");
    EXPECT_EQ(std::string(g_liveSettings->performanceName), path);
    ASSERT_NE(g_liveSettings->slots[4], nullptr);
    EXPECT_EQ(std::string(g_liveSettings->slots[4]->path), kOurPlugins + "Overdrive.dll");
    EXPECT_EQ(g_liveSettings->bypass[4], 1);
    AEffect* overdrive = effectOf(g_liveSettings->slots[4]);
    EXPECT_EQ(overdrive->getParameter(overdrive, 0), 0.375f);
    EXPECT_FALSE(performanceChanged()) << "the first snapshot follows the opening";
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    ASSERT_TRUE(program.close(kTimeout));
    RegistryKey settings(kSettingsKeyPath, false);
    std::string remembered;
    ASSERT_TRUE(settings.readText("szPerfFile", &remembered));
    EXPECT_EQ(remembered, path);

    // A damaged file on the command line: box 34, and the program starts empty.
    Bytes damaged = readFile(path);
    damaged.resize(damaged.size() - 1);
    const std::string broken = dir + "broken show.tlp";
    writeFile(broken, damaged);
    HostedProgram again;
    ASSERT_TRUE(again.start(" \"" + broken + "\""));
    expectErrorBox("Error #34", "Failed to load the performance", "cut off", "a damaged file at start-up");
    frame = again.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10");
    EXPECT_EQ(g_liveSettings->slots[4], nullptr);
    EXPECT_EQ(std::string(g_liveSettings->performanceName), "");
    ASSERT_TRUE(again.close(kTimeout));

    // A position of a format this edition has no backend for: the whole file is
    // refused, naming the position, and nothing of it is loaded.
    PerformanceImage mixed{};
    Bytes gain(parameterRecordSize(1));
    const float half = 0.5f;
    writeParameterRecord(gain.data(), &half, 1);
    for (int position : {2, 5}) {
        PerformancePosition& p = mixed.positions[position];
        p.occupied = true;
        std::snprintf(p.path, sizeof p.path, "%s", (kOurPlugins + "Overdrive.dll").c_str());
        p.state = gain.data();
        p.stateSize = uint32_t(gain.size());
    }
    std::snprintf(mixed.positions[5].format, sizeof mixed.positions[5].format, "LADSPA");
    std::snprintf(mixed.positions[5].path, sizeof mixed.positions[5].path, "C:\\LADSPA\\gain.so");
    Bytes other(performanceFileSize(mixed));
    ASSERT_TRUE(writePerformance(mixed, other.data(), other.size()));
    const std::string foreign = dir + "foreign show.tlp";
    writeFile(foreign, other);
    HostedProgram third;
    ASSERT_TRUE(third.start("\"" + foreign + "\""));
    expectErrorBox("Error #34", "Failed to load the performance",
                   "Position 6 holds a LADSPA plug-in, and this edition of Talvenor Live has no LADSPA support",
                   "a position of an unknown format");
    frame = third.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(g_effectHost->slotList(), nullptr);
    EXPECT_EQ(std::string(g_liveSettings->performanceName), "");
    ASSERT_TRUE(third.close(kTimeout));
}

// Live input runs on the bench's devices while a performance is opened over a
// running one and New empties it: the new plug-ins process at once and answer
// their host calls (each was whole before the chain could reach it), no error is
// raised, and live input goes on throughout.
TEST(Performance, OpensAndEmptiesWhileLiveInputRuns) {
    prepareSettings();
    ASSERT_TRUE(saveDriverChoices("Monitor of instrument", "speakers", 1024, 4));
    {
        RegistryKey key(kSettingsKeyPath, true);
        ASSERT_TRUE(key.setText("asioDevice", "ZerevaZ-2-UDID wrapper"));
    }
    const std::string dir = folder("talvenor-performances");
    const std::string live = dir + "live set.tlp";
    const std::string counting = kBin + "test-plugins\\TestCallsHostInProcess.dll";
    writeFile(live, performanceFile("", {{0, counting}, {3, counting}, {7, kOurPlugins + "Modulane.dll"}}, {0.5f}, 0));
    HANDLE mapping =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 12, "TalvenorTestHostCallCounts");
    ASSERT_NE(mapping, nullptr);
    auto* counts = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(counts, nullptr);
    counts[0] = counts[1] = 0;

    HostedProgram program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    ASSERT_GE(g_liveEngine->currentDriver(), 0);
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(0, (kOurPlugins + "Overdrive.dll").c_str()));
    ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(3, (kOurPlugins + "Filtrace.dll").c_str()));
    snapshotPerformance();
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    ASSERT_TRUE(waitUntil([] { return g_liveEngine->running(); }, kTimeout));

    ASSERT_TRUE(postCommand(frame, IDC_CMD_OPEN_PERFORMANCE));
    ASSERT_TRUE(answerFileDialog("Open Performance", live));
    ASSERT_TRUE(waitUntil([&] { return windowText(frame) == "Talvenor Live 2.10 (live set)"; }, kTimeout));
    EXPECT_TRUE(g_liveEngine->running());
    ASSERT_NE(g_liveSettings->slots[0], nullptr);
    EXPECT_EQ(std::string(g_liveSettings->slots[0]->path), counting);
    EXPECT_EQ(std::string(g_liveSettings->slots[3]->path), counting);
    EXPECT_EQ(std::string(g_liveSettings->slots[7]->path), kOurPlugins + "Modulane.dll");
    EXPECT_TRUE(waitUntil([&] { return counts[0] >= 40; }, kTimeout)) << counts[0] << " processing calls";
    EXPECT_EQ(counts[1], 0) << "host calls answered wrongly";

    ASSERT_TRUE(postCommand(frame, IDC_CMD_NEW_PERFORMANCE));
    ASSERT_TRUE(waitUntil([] { return g_effectHost->slotList() == nullptr; }, kTimeout));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    EXPECT_TRUE(g_liveEngine->running());
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_EQ(errorFlags(), 0u);
    ASSERT_TRUE(postCommand(frame, IDC_CMD_LIVE_INPUT));
    ASSERT_TRUE(waitUntil([] { return !g_liveEngine->running(); }, kTimeout));
    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    UnmapViewOfFile(const_cast<LONG*>(counts));
    CloseHandle(mapping);
}
