// Effects whose VST3 and CLAP code is DPF's, not ours, in the hosted program: loaded
// into positions, their parameters moved and their state string changed through a
// state the host restores, a performance saved, emptied and opened again with every
// value, the state and the sound back; and each one's editor (DPF's OpenGL window)
// embedded in the editor frame at its size, then closed. A screenshot of the two
// editors goes to the build folder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "WinInclude.h"

#include "EditorWindow.h"
#include "EffectHost.h"
#include "EffectIds.h"
#include "EffectSlot.h"
#include "FrameWindow.h"
#include "FxManagerWindow.h"
#include "HostedProgram.h"
#include "LiveSettings.h"
#include "Performance.h"
#include "RegistryKeys.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "ThreadCheckedPlugin.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const std::string kDpf = std::string(TALVENOR_BIN_DIR) + "test-dpf\\";
const DWORD kTimeout = 20000;
const DWORD kPid = GetCurrentProcessId();
const int kFrames = 256;

using Bytes = std::vector<uint8_t>;

struct Loaded {
    int position;
    const char* file;
    const char* format;
};
const Loaded kLoaded[] = {{0, "TalvenorTestBalance.vst3", "VST3"}, {2, "TalvenorTestBalance.clap", "CLAP"}};

// The plug-in's state as the host takes it for a performance.
Bytes stateOf(EffectSlot* slot) {
    Bytes bytes;
    if (g_effectHost->captureState(slot))
        bytes.assign(slot->state.data(), slot->state.data() + slot->state.size());
    g_effectHost->releaseState(slot);
    return bytes;
}

// The bytes as text, for a failure's message.
std::string printable(const Bytes& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        char shown[8];
        std::snprintf(shown, sizeof shown, b >= 32 && b < 127 ? "%c" : "\\x%02x", b);
        text += shown;
    }
    return text;
}

// Where text occurs in bytes, and how often.
size_t findText(const Bytes& bytes, const std::string& text, int* count) {
    size_t first = std::string::npos;
    *count = 0;
    for (size_t at = 0; at + text.size() <= bytes.size(); ++at)
        if (std::memcmp(bytes.data() + at, text.data(), text.size()) == 0) {
            first = *count == 0 ? at : first;
            ++*count;
        }
    return first;
}

// Two different signals, left and right.
void testInput(std::vector<float>& left, std::vector<float>& right) {
    left.resize(kFrames);
    right.resize(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        left[i] = 0.5f * float(std::sin(0.05 * i));
        right[i] = 0.25f * float(std::cos(0.031 * i)) + 0.1f;
    }
}

// One block through the slot the way the live chain runs it (no driver runs, so the
// test switches processing on around it). Left then right.
std::vector<float> outputOf(EffectSlot* slot) {
    std::vector<float> left, right;
    testInput(left, right);
    float* channels[2] = {left.data(), right.data()};
    g_effectHost->resumeAllSlots();
    g_effectHost->processSlot(slot, channels, 2, kFrames);
    g_effectHost->suspendAllSlots();
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// What the balance makes of the test input: gain 2 g, balance 2 b - 1 cutting the
// other side, the inputs swapped when mirrored.
std::vector<float> predicted(float gain, float balance, bool mirrored) {
    std::vector<float> left, right;
    testInput(left, right);
    if (mirrored)
        left.swap(right);
    const float g = 2.0f * gain, b = 2.0f * balance - 1.0f;
    std::vector<float> out(2 * kFrames);
    for (int i = 0; i < kFrames; ++i) {
        out[i] = left[i] * g * (b > 0.0f ? 1.0f - b : 1.0f);
        out[kFrames + i] = right[i] * g * (b < 0.0f ? 1.0f + b : 1.0f);
    }
    return out;
}

void expectOutput(const std::vector<float>& got, const std::vector<float>& wanted, const std::string& what) {
    ASSERT_EQ(got.size(), wanted.size()) << what;
    int wrong = 0;
    for (size_t i = 0; i < got.size(); ++i)
        if (std::fabs(got[i] - wanted[i]) > 1e-6f && wrong++ < 4)
            ADD_FAILURE() << what << ": " << (i < size_t(kFrames) ? "left" : "right") << " frame " << i % kFrames
                          << " is " << got[i] << ", not " << wanted[i];
    EXPECT_EQ(wrong, 0) << what;
}

bool answerFileDialog(const char* caption, const std::string& path) {
    return windriver::answerFileDialog(kPid, caption, path, kTimeout, nullptr);
}

// Runs call on the program's thread, inside a message sent to its frame: that thread
// is the plug-ins' UI thread (the VST3 backend turns UI calls from any other away),
// so the effects are loaded, set, saved and processed there.
std::function<void()>* g_programCall = nullptr;
const WPARAM kProgramCall = 0x7A1E;

LRESULT CALLBACK programCallHook(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_NULL && sent->wParam == kProgramCall && g_programCall)
        (*g_programCall)();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool onProgramThread(const HostedProgram& program, HWND frame, std::function<void()> call) {
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, programCallHook, nullptr, program.threadId());
    if (!hook)
        return false;
    g_programCall = &call;
    SendMessageA(frame, WM_NULL, kProgramCall, 0);
    g_programCall = nullptr;
    UnhookWindowsHookEx(hook);
    return true;
}

// A program that, when a failed assertion leaves the test early, still closes
// without saving (a question left open would hold up the next test's program).
struct Program : HostedProgram {
    ~Program() override { closeDiscarding(kTimeout); }
};

int countEditors() {
    int count = 0;
    for (HWND child = GetWindow(g_windows.mdiClient, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        count += className(child) == kEditorFrameClassName ? 1 : 0;
    return count;
}

}  // namespace

TEST(DpfEffects, ParametersAndStateThroughAPerformance) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        settings.setPair("frameWndSize", 900, 600);
    }
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string show = std::string(temp) + "talvenor dpf effects.tlp";
    DeleteFileA(show.c_str());

    Program program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);

    // Loaded, named as DPF names them, each at its defaults: gain 1, centred, straight.
    struct Moved {
        int32_t gain = -1, balance = -1;
        float gainValue = 0.0f, balanceValue = 0.0f;
        std::vector<float> output;
        Bytes state;
    } moved[2];
    const float values[2][2] = {{0.3f, 0.8f}, {0.85f, 0.1f}};
    const auto loadAndChange = [&](int e) {
        const Loaded& l = kLoaded[e];
        ASSERT_TRUE(g_liveSettings->loadPathIntoPosition(l.position, (kDpf + l.file).c_str()))
            << l.file << ": " << g_effectHost->lastLoadFailure();
        EffectSlot* slot = g_liveSettings->slots[l.position];
        ASSERT_NE(slot, nullptr) << l.file;
        const PluginIdentity& identity = slot->plugin->identity();
        EXPECT_STREQ(identity.name, "Talvenor Test Balance") << l.file;
        EXPECT_STREQ(identity.vendor, "Talvenor Tests") << l.file;
        EXPECT_STREQ(identity.format, l.format) << l.file;
        EXPECT_EQ(slot->plugin->inputCount(), 2) << l.file;
        EXPECT_EQ(slot->plugin->outputCount(), 2) << l.file;
        Moved& m = moved[e];
        m.gain = g_effectHost->findParameter(slot, "Gain");
        m.balance = g_effectHost->findParameter(slot, "Balance");
        ASSERT_GE(m.gain, 0) << l.file;
        ASSERT_GE(m.balance, 0) << l.file;
        EXPECT_FLOAT_EQ(slot->plugin->parameterValue(m.gain), 0.5f) << l.file;
        EXPECT_FLOAT_EQ(slot->plugin->parameterValue(m.balance), 0.5f) << l.file;
        expectOutput(outputOf(slot), predicted(0.5f, 0.5f, false), std::string(l.file) + " at its defaults");

        // The parameters moved as the editor's value bars move them.
        ASSERT_TRUE(g_effectHost->setParameter(slot, m.gain, values[e][0])) << l.file;
        ASSERT_TRUE(g_effectHost->setParameter(slot, m.balance, values[e][1])) << l.file;
        EXPECT_NEAR(slot->parameters[m.gain], values[e][0], 1e-6f) << l.file;
        EXPECT_NEAR(slot->plugin->parameterValue(m.balance), values[e][1], 1e-6f) << l.file;
        expectOutput(outputOf(slot), predicted(values[e][0], values[e][1], false),
                     std::string(l.file) + " with its parameters moved");

        // DPF keeps the state string in its state as text, after its key and a NUL:
        // "normal" turned to "mirror" (as long, so the host's record still holds
        // together) and given back through the host swaps the channels and keeps the
        // parameters.
        Bytes state = stateOf(slot);
        int count = 0;
        const std::string key("channels\0", 9);
        const size_t at = findText(state, key + "normal", &count);
        ASSERT_EQ(count, 1) << l.file << " holds its state string once: " << printable(state);
        std::memcpy(state.data() + at + key.size(), "mirror", 6);
        ASSERT_TRUE(g_effectHost->restoreState(slot, state.data(), uint32_t(state.size()))) << l.file;
        EXPECT_NEAR(slot->plugin->parameterValue(m.gain), values[e][0], 1e-6f) << l.file;
        EXPECT_NEAR(slot->plugin->parameterValue(m.balance), values[e][1], 1e-6f) << l.file;
        m.output = outputOf(slot);
        expectOutput(m.output, predicted(values[e][0], values[e][1], true), std::string(l.file) + " mirrored");
        m.state = stateOf(slot);
        EXPECT_EQ(findText(m.state, key + "mirror", &count), at) << l.file;
        m.gainValue = slot->plugin->parameterValue(m.gain);
        m.balanceValue = slot->plugin->parameterValue(m.balance);
    };
    for (int e = 0; e < 2; ++e)
        ASSERT_TRUE(onProgramThread(program, frame, [&] { loadAndChange(e); }));

    // Saved, emptied by New, opened again.
    ASSERT_TRUE(postCommand(frame, IDC_CMD_SAVE_PERFORMANCE_AS));
    ASSERT_TRUE(answerFileDialog("Save Performance As", show));
    const auto unchanged = [&] {
        bool changed = true;
        return onProgramThread(program, frame, [&] { changed = performanceChanged(); }) && !changed;
    };
    ASSERT_TRUE(waitUntil(unchanged, kTimeout));
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'N'}));
    ASSERT_TRUE(waitUntil([] { return g_liveSettings->slots[0] == nullptr && g_liveSettings->slots[2] == nullptr; },
                          kTimeout));
    EXPECT_EQ(g_effectHost->slotList(), nullptr);
    ASSERT_TRUE(pressKeys(frame, {VK_CONTROL, 'O'}));
    ASSERT_TRUE(answerFileDialog("Open Performance", show));
    ASSERT_TRUE(waitUntil([] { return g_liveSettings->slots[0] && g_liveSettings->slots[2]; }, kTimeout));
    ASSERT_TRUE(waitForTicks(2));
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);
    const auto expectKept = [&](int e) {
        const Loaded& l = kLoaded[e];
        EffectSlot* slot = g_liveSettings->slots[l.position];
        ASSERT_NE(slot, nullptr) << l.file;
        EXPECT_STREQ(slot->plugin->identity().format, l.format) << l.file;
        const Moved& m = moved[e];
        EXPECT_EQ(slot->plugin->parameterValue(m.gain), m.gainValue) << l.file;
        EXPECT_EQ(slot->plugin->parameterValue(m.balance), m.balanceValue) << l.file;
        EXPECT_EQ(slot->parameters[m.gain], m.gainValue) << l.file << ": the host's copy";
        EXPECT_EQ(slot->parameters[m.balance], m.balanceValue) << l.file << ": the host's copy";
        const Bytes state = stateOf(slot);
        EXPECT_EQ(state, m.state) << l.file << ": the state, byte for byte: " << printable(state);
        expectOutput(outputOf(slot), m.output, std::string(l.file) + " opened again");
    };
    for (int e = 0; e < 2; ++e)
        ASSERT_TRUE(onProgramThread(program, frame, [&] { expectKept(e); }));
    EXPECT_TRUE(unchanged()) << "a performance just opened";

    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
    DeleteFileA(show.c_str());
}

// Each editor opened from the FX Manager: the frame holds the host's view at the
// editor's size (DPF's default, 240 x 120), DPF's own window inside it; closing the
// frame takes DPF's window with it. (What DPF draws with OpenGL does not reach the
// screen under Wine on the test display, so the screenshot shows the frames only.)
TEST(DpfEffects, EditorsEmbeddedInTheEditorFrame) {
    forgetProgramSettings();
    ASSERT_TRUE(createSettingsKeys());
    {
        RegistryKey settings(kSettingsKeyPath, true);
        settings.setPair("frameWndSize", 900, 600);
    }
    Program program;
    ASSERT_TRUE(program.start(""));
    HWND frame = program.waitForFrame(kTimeout);
    ASSERT_NE(frame, nullptr);
    for (const Loaded& l : kLoaded) {
        bool loaded = false;
        ASSERT_TRUE(onProgramThread(program, frame, [&] {
            loaded = g_liveSettings->loadPathIntoPosition(l.position, (kDpf + l.file).c_str());
        }));
        ASSERT_TRUE(loaded) << l.file << ": " << g_effectHost->lastLoadFailure();
    }
    pressKeys(frame, {VK_CONTROL, 'F'});
    HWND panel = nullptr;
    ASSERT_TRUE(waitUntil([&] { return g_windows.fxManager && (panel = fxManagerPanel()) != nullptr; }, kTimeout));

    HWND inner[2] = {};
    int top = 0;
    for (int e = 0; e < 2; ++e) {
        const Loaded& l = kLoaded[e];
        EffectSlot* slot = g_liveSettings->slots[l.position];
        bool hasEditor = false;
        ASSERT_TRUE(onProgramThread(program, frame, [&] { hasEditor = slot->plugin->hasEditor(); }));
        EXPECT_TRUE(hasEditor) << l.file;
        SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + l.position, WM_RBUTTONDOWN, MK_RBUTTON, 0);
        HWND editor = static_cast<HWND>(slot->editorFrame);
        ASSERT_NE(editor, nullptr) << l.file;
        HWND view = static_cast<HWND>(slot->editorView);
        ASSERT_NE(view, nullptr) << l.file;
        const RECT viewRect = windowRect(view);
        EXPECT_EQ(viewRect.right - viewRect.left, 240) << l.file;
        EXPECT_EQ(viewRect.bottom - viewRect.top, 120) << l.file;
        EXPECT_EQ(clientRect(editor).right, 260) << l.file << ": the view beside the programs button";
        EXPECT_EQ(clientRect(editor).bottom, 120) << l.file;
        EXPECT_EQ(viewRect.left - clientOrigin(editor).x, 20) << l.file;
        // DPF's window: a child of the view, filling it.
        ASSERT_TRUE(waitUntil([&] { return (inner[e] = GetWindow(view, GW_CHILD)) != nullptr; }, kTimeout)) << l.file;
        EXPECT_TRUE(IsWindowVisible(inner[e])) << l.file;
        const RECT innerRect = windowRect(inner[e]);
        EXPECT_EQ(innerRect.right - innerRect.left, 240) << l.file << ", " << className(inner[e]);
        EXPECT_EQ(innerRect.bottom - innerRect.top, 120) << l.file << ", " << className(inner[e]);
        EXPECT_EQ(innerRect.left, viewRect.left) << l.file;
        EXPECT_EQ(innerRect.top, viewRect.top) << l.file;
        const RECT place = windowRect(editor);
        SetWindowPos(editor, nullptr, 0, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        top += place.bottom - place.top + 4;
    }
    EXPECT_EQ(countEditors(), 2);
    // Idle calls while both are open (DPF paints from them), then the picture.
    ASSERT_TRUE(waitForTicks(4));
    takeScreenshot(kScreenshots, "40-dpf-editors");
    EXPECT_TRUE(dialogsOf(kPid).empty()) << describeDialogs(kPid);

    for (int e = 0; e < 2; ++e) {
        EffectSlot* slot = g_liveSettings->slots[kLoaded[e].position];
        ASSERT_TRUE(onProgramThread(program, frame, [&] { closeEditor(slot); }));
        EXPECT_EQ(slot->editorFrame, nullptr) << kLoaded[e].file;
        EXPECT_FALSE(IsWindow(inner[e])) << kLoaded[e].file << ": DPF's window outlived its editor";
    }
    EXPECT_EQ(countEditors(), 0);
    // Opened once more after closing, and closed with the program.
    EffectSlot* clap = g_liveSettings->slots[2];
    SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + 2, WM_RBUTTONDOWN, MK_RBUTTON, 0);
    ASSERT_NE(clap->editorFrame, nullptr);
    EXPECT_NE(GetWindow(static_cast<HWND>(clap->editorView), GW_CHILD), nullptr);

    ASSERT_TRUE(program.closeDiscarding(kTimeout));
    EXPECT_EQ(program.exitCode(), 0);
}
