// Small VST 2 plug-ins for the effect host's tests, one source compiled into several
// libraries whose shape is set by compile definitions. Every instance logs the
// dispatcher calls it receives into the library's log, which the tests read through
// the exported testPluginLog (the test loads the same library, so it is one module).
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "VstInterface.h"

#ifndef TP_INPUTS
#define TP_INPUTS 2
#endif
#ifndef TP_OUTPUTS
#define TP_OUTPUTS 2
#endif
#ifndef TP_MAGIC
#define TP_MAGIC kEffectMagic
#endif
#ifndef TP_IDENTIFY
#define TP_IDENTIFY kEffectIdentifyAnswer
#endif
#ifndef TP_FLAGS
#define TP_FLAGS effFlagsCanReplacing
#endif
#ifndef TP_PROGRAMS
#define TP_PROGRAMS 3
#endif
#ifndef TP_NAMES_PROGRAMS
#define TP_NAMES_PROGRAMS 1
#endif
#ifndef TP_CALLS_HOST_IN_ENTRY
#define TP_CALLS_HOST_IN_ENTRY 0
#endif
#ifndef TP_EDITOR
#define TP_EDITOR 0  // an editor of its own, 200 x 120 until it asks for another size, and program names with a duplicate
#endif
#ifndef TP_EDITOR_WINDOW
#define TP_EDITOR_WINDOW 0  // the editor is a real window: a click sets parameter 0, keys move parameter 1 and its size
#endif
#ifndef TP_EFFECT_NAME
#define TP_EFFECT_NAME ""
#endif
#ifndef TP_PARAMS
#define TP_PARAMS 2
#endif
#ifndef TP_CALLS_HOST_IN_PROCESS
#define TP_CALLS_HOST_IN_PROCESS 0
#endif

// After this many blocks the plug-in fails in its processing: 1 crashes (a write
// through a bad pointer), 2 hangs for good, 3 crashes inside a system library (it hands
// kernel32 a wild pointer to read), 4 crashes calling through a garbage function
// pointer (the fault lies in no code at all).
#ifndef TP_FAILS_AFTER_BLOCKS
#define TP_FAILS_AFTER_BLOCKS 0
#define TP_FAILURE 0
#endif

// Fails where and how its environment says: TP_CUE_<its file's base name, upper case>
// is "<where>:<how>", where one of open, save, process (after TP_CUE_BLOCKS blocks),
// editor (opening it), editoridle (its idle call), click (a click in its window);
// how one of crash, hang, exit, abort, terminate (the process ended at once,
// as from outside), huge (a state answer claiming 2 GiB), flood (threads of its own
// calling the host without pause from then on: parameter moves, idle, time and size). So one library, copied under several
// names, fails differently in each copy.
#ifndef TP_ON_CUE
#define TP_ON_CUE 0
#endif
#define TP_CUE_BLOCKS 100

#if TP_CALLS_HOST_IN_PROCESS || TP_FAILURE || TP_ON_CUE || TP_EDITOR_WINDOW
#include <windows.h>
#endif
#if TP_ON_CUE
#include <cctype>
#include <cstdlib>
#include <thread>
#endif

namespace {

std::string g_log;
VstIntPtr g_entryAnswers[4];
// The chunk answer set by the test: the size claimed and whether the data pointer is
// left null, in place of the instance's own chunk.
bool g_chunkOverridden = false;
VstIntPtr g_chunkAnswer = 0;
bool g_chunkNull = false;
audioMasterCallback g_host = nullptr;
// The editor's rectangle, which a size the plug-in asks the host for replaces, and
// the size it is to ask for at its next effEditIdle (none while width is negative).
ERect g_editorRect{0, 0, 120, 200};
std::atomic<int> g_sizeOnIdleWidth{-1}, g_sizeOnIdleHeight{0};

struct TestEffect {
    AEffect effect;
    int program = 0;
    float parameters[TP_PARAMS > 2 ? TP_PARAMS : 2] = {0.25f, 0.75f};
    std::string chunk = "the chunk of a test plug-in";
    const char* directory = nullptr;  // the host's first answer to get-directory, kept
    char directoryCopy[300] = {};
};

#if TP_CALLS_HOST_IN_PROCESS
// Counts shared by every copy of the library in the process (the host loads private
// copies for further instances), read by the test under the same name.
struct HostCallCounts {
    volatile LONG calls;
    volatile LONG wrongAnswers;
    volatile LONG loadedWithDllDirectory;  // a copy was loaded while the process's DLL search path was changed
};

HostCallCounts* sharedCounts() {
    static HostCallCounts* counts = [] {
        HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(HostCallCounts),
                                            "TalvenorTestHostCallCounts");
        return mapping ? static_cast<HostCallCounts*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    }();
    return counts;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    char directory[MAX_PATH] = "";
    HostCallCounts* counts = reason == DLL_PROCESS_ATTACH ? sharedCounts() : nullptr;
    if (counts && GetDllDirectoryA(sizeof directory, directory) > 0)
        InterlockedIncrement(&counts->loadedWithDllDirectory);
    return TRUE;
}

namespace {

// Asks for idle calls, a new editor size and the plug-in's folder, as plug-ins do from
// their processing. The folder's text must stay what it was first answered.
void callHostFromProcessing(TestEffect* self) {
    HostCallCounts* counts = sharedCounts();
    if (!counts || !g_host)
        return;
    AEffect* e = &self->effect;
    int wrong = 0;
    // The text kept from the first answer, before this block's requests.
    if (self->directory)
        wrong += std::strcmp(self->directory, self->directoryCopy) != 0;
    wrong += g_host(e, audioMasterNeedIdle, 0, 0, nullptr, 0.0f) != 1;
    wrong += g_host(e, audioMasterSizeWindow, 320, 240, nullptr, 0.0f) != 1;
    const char* directory = reinterpret_cast<const char*>(g_host(e, audioMasterGetDirectory, 0, 0, nullptr, 0.0f));
    if (!directory) {
        ++wrong;
    } else if (!self->directory) {
        self->directory = directory;
        std::snprintf(self->directoryCopy, sizeof self->directoryCopy, "%s", directory);
    } else {
        wrong += directory != self->directory && std::strcmp(directory, self->directoryCopy) != 0;
    }
    InterlockedIncrement(&counts->calls);
    if (wrong)
        InterlockedExchangeAdd(&counts->wrongAnswers, wrong);
}
#endif

void log(const char* text) {
    g_log += text;
    g_log += '\n';
}

#if TP_ON_CUE
enum class CueWhere { None, Open, Save, Process, Editor, EditorIdle, Click };
enum class CueHow { None, Crash, Hang, Exit, Abort, Terminate, Huge, Flood };
CueWhere g_cueWhere = CueWhere::None;
CueHow g_cueHow = CueHow::None;
std::atomic<bool> g_flooding{false};

void readCue() {
    HMODULE self = nullptr;
    char path[MAX_PATH] = "";
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&readCue), &self);
    GetModuleFileNameA(self, path, sizeof path);
    const char* base = std::strrchr(path, '\\');
    base = base ? base + 1 : path;
    std::string name = "TP_CUE_";
    for (const char* c = base; *c && *c != '.'; ++c)
        name += char(std::toupper(static_cast<unsigned char>(*c)));
    const char* cue = std::getenv(name.c_str());
    if (!cue)
        return;
    const std::string text = cue;
    const size_t colon = text.find(':');
    const std::string where = text.substr(0, colon), how = colon == std::string::npos ? "" : text.substr(colon + 1);
    g_cueWhere = where == "open" ? CueWhere::Open : where == "save" ? CueWhere::Save
               : where == "process" ? CueWhere::Process : where == "editor" ? CueWhere::Editor
               : where == "editoridle" ? CueWhere::EditorIdle : where == "click" ? CueWhere::Click : CueWhere::None;
    g_cueHow = how == "crash" ? CueHow::Crash : how == "hang" ? CueHow::Hang : how == "exit" ? CueHow::Exit
             : how == "abort" ? CueHow::Abort : how == "terminate" ? CueHow::Terminate : how == "huge" ? CueHow::Huge
             : how == "flood" ? CueHow::Flood : CueHow::None;
}

// The host called from threads of the plug-in's own, as a plug-in with a busy
// worker or a careless meter does: parameter moves, idle, time and size requests.
void flood(AEffect* e) {
    if (g_flooding.exchange(true))
        return;
    for (int t = 0; t < 4; ++t)
        std::thread([e, t] {
            for (unsigned n = 0;; ++n) {
                g_host(e, audioMasterAutomate, int(n % 2), 0, nullptr, float(n % 100) / 100.0f);
                g_host(e, t % 2 ? audioMasterIdle : audioMasterNeedIdle, 0, 0, nullptr, 0.0f);
                g_host(e, audioMasterGetTime, 0, 0, nullptr, 0.0f);
                g_host(e, audioMasterGetSampleRate, 0, 0, nullptr, 0.0f);
                g_host(e, audioMasterSizeWindow, 200 + int(n % 50), 120, nullptr, 0.0f);
                if (n % 64 == 0)
                    Sleep(0);
            }
        }).detach();
}

// True when the cue here asks for a huge state answer; the other kinds do not return.
bool onCue(CueWhere where, AEffect* e) {
    if (g_cueWhere != where)
        return false;
    switch (g_cueHow) {
    case CueHow::Crash: {
        int* volatile bad = reinterpret_cast<int*>(uintptr_t(16));
        *bad = 1;
        return false;
    }
    case CueHow::Hang:
        for (;;)
            Sleep(1000);
    case CueHow::Exit: std::exit(7);
    case CueHow::Abort: std::abort();
    case CueHow::Terminate: TerminateProcess(GetCurrentProcess(), 9); return false;
    case CueHow::Huge: return true;
    case CueHow::Flood: flood(e); return false;
    case CueHow::None: return false;
    }
    return false;
}
#endif

// Asks the host for a new editor size, as a plug-in whose editor changes size does,
// from the thread it is called on; its rectangle then reports that size.
VstIntPtr askForEditorSize(AEffect* e, int width, int height) {
    g_editorRect = ERect{0, 0, int16_t(height), int16_t(width)};
    return g_host ? g_host(e, audioMasterSizeWindow, width, height, nullptr, 0.0f) : -1;
}

#if TP_EDITOR_WINDOW
// The editor's window: parameter 0 as a bar set where it is clicked, parameter 1 as a
// second bar that 'u' and 'd' move, and 'w' / 'n' asking the host for a wider or the
// first size, as an editor with a size switch does.
HWND g_editorWindow = nullptr;
AEffect* g_editorEffect = nullptr;
constexpr char kEditorClass[] = "TalvenorTestPluginEditor";

void editParameter(AEffect* e, int index, float value) {
    value = value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
    e->setParameter(e, index, value);
    if (g_host)
        g_host(e, audioMasterAutomate, index, 0, nullptr, value);
    InvalidateRect(g_editorWindow, nullptr, TRUE);
}

void paintEditor(HWND window, AEffect* e) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT r;
    GetClientRect(window, &r);
    HBRUSH panel = CreateSolidBrush(RGB(38, 42, 48));
    FillRect(dc, &r, panel);
    DeleteObject(panel);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(230, 200, 120));
    const char* title = "TEST EDITOR";
    TextOutA(dc, 10, 8, title, int(std::strlen(title)));
    HBRUSH groove = CreateSolidBrush(RGB(12, 12, 14)), lit = CreateSolidBrush(RGB(240, 150, 40));
    for (int p = 0; p < 2; ++p) {
        const int y = 40 + 34 * p;
        RECT bar{10, y, r.right - 10, y + 16};
        FillRect(dc, &bar, groove);
        bar.right = bar.left + int(float(bar.right - bar.left) * e->getParameter(e, p));
        FillRect(dc, &bar, lit);
    }
    DeleteObject(groove);
    DeleteObject(lit);
    EndPaint(window, &paint);
}

LRESULT CALLBACK editorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    AEffect* e = g_editorEffect;
    switch (message) {
    case WM_PAINT:
        if (e) {
            paintEditor(window, e);
            return 0;
        }
        break;
    case WM_LBUTTONDOWN: {
        SetFocus(window);
#if TP_ON_CUE
        onCue(CueWhere::Click, e);
#endif
        RECT r;
        GetClientRect(window, &r);
        const int x = short(LOWORD(lParam));
        if (e && r.right > 20)
            editParameter(e, 0, float(x - 10) / float(r.right - 20));
        return 0;
    }
    case WM_CHAR:
        if (!e)
            break;
        if (wParam == 'u' || wParam == 'd')
            editParameter(e, 1, e->getParameter(e, 1) + (wParam == 'u' ? 0.125f : -0.125f));
        if (wParam == 'w' || wParam == 'n') {
            const int width = wParam == 'w' ? 320 : 200, height = wParam == 'w' ? 150 : 120;
            SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            askForEditorSize(e, width, height);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool openEditorWindow(AEffect* e, HWND parent) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = editorProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kEditorClass;
    RegisterClassA(&windowClass);  // fails harmlessly once registered
    g_editorEffect = e;
    g_editorWindow = CreateWindowExA(0, kEditorClass, "", WS_CHILD | WS_VISIBLE, 0, 0,
                                     g_editorRect.right - g_editorRect.left, g_editorRect.bottom - g_editorRect.top,
                                     parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    return g_editorWindow != nullptr;
}
#endif

VstIntPtr VSTCALLBACK dispatcher(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                 float opt) {
    auto* self = static_cast<TestEffect*>(e->object);
    char line[160];
    std::snprintf(line, sizeof line, "op %d index %d value %ld opt %g", int(opcode), int(index), long(value),
                  double(opt));
    log(line);
#if TP_ON_CUE
    if (opcode == effOpen)
        onCue(CueWhere::Open, e);
    if (opcode == effEditOpen)
        onCue(CueWhere::Editor, e);
    if (opcode == effEditIdle)
        onCue(CueWhere::EditorIdle, e);
    if (opcode == effGetChunk && onCue(CueWhere::Save, e)) {
        *static_cast<void**>(ptr) = const_cast<char*>(self->chunk.data());
        return VstIntPtr(0x7FFFFFFF);
    }
#endif
    switch (opcode) {
    case effIdentify:
        return TP_IDENTIFY;
    case effSetProgram:
        self->program = int(value);
        return 0;
    case effGetProgram:
        return self->program;
    case effGetProgramName:
        if (TP_NAMES_PROGRAMS)
            std::snprintf(static_cast<char*>(ptr), 24, "current %d", self->program);
        return 0;
    case effGetProgramNameIndexed:
        if (TP_EDITOR) {
            // Program 2 has the same name as program 0.
            std::snprintf(static_cast<char*>(ptr), 24, "program %d", index == 2 ? 0 : int(index));
            return 1;
        }
        if (TP_NAMES_PROGRAMS && index == 1) {
            // Longer than the host keeps: only 31 characters may survive.
            std::strcpy(static_cast<char*>(ptr), "program one with a name far too long for the host");
            return 1;
        }
        return 0;
    case effGetChunk:
        *static_cast<void**>(ptr) = g_chunkNull ? nullptr : const_cast<char*>(self->chunk.data());
        return g_chunkOverridden ? g_chunkAnswer : VstIntPtr(self->chunk.size());
    case effSetChunk:
        if (ptr && value >= 0)
            self->chunk.assign(static_cast<const char*>(ptr), size_t(value));
        return 1;
    case effGetEffectName:
        std::strcpy(static_cast<char*>(ptr), TP_EFFECT_NAME);
        return TP_EFFECT_NAME[0] != 0;
    case effEditOpen:
#if TP_EDITOR_WINDOW
        return openEditorWindow(e, static_cast<HWND>(ptr)) ? 1 : 0;
    case effEditClose:
        if (g_editorWindow)
            DestroyWindow(g_editorWindow);
        g_editorWindow = nullptr;
        return 1;
#endif
        return TP_EDITOR;
    case effEditGetRect:
        if (TP_EDITOR && ptr) {
            *static_cast<ERect**>(ptr) = &g_editorRect;
            return 1;
        }
        return 0;
    case effEditIdle:
        if (TP_EDITOR && g_sizeOnIdleWidth.load() >= 0) {
            const int width = g_sizeOnIdleWidth.exchange(-1), height = g_sizeOnIdleHeight.load();
            const VstIntPtr answer = askForEditorSize(e, width, height);
            std::snprintf(line, sizeof line, "asked for %d x %d: %ld", width, height, long(answer));
            log(line);
        }
        return 0;
    case effClose:
        delete self;
        return 1;
    default:
        return 0;
    }
}

// Output k is the sum of the inputs times (k + 1) / 4.
void VSTCALLBACK processReplacing(AEffect* e, float** in, float** out, VstInt32 frames) {
#if TP_CALLS_HOST_IN_PROCESS
    callHostFromProcessing(static_cast<TestEffect*>(e->object));
#endif
#if TP_ON_CUE
    static int cueBlocks = 0;
    if (++cueBlocks > TP_CUE_BLOCKS)
        onCue(CueWhere::Process, e);
#endif
#if TP_FAILURE
    static int blocks = 0;
    if (++blocks > TP_FAILS_AFTER_BLOCKS) {
        if (TP_FAILURE == 1)
        {
            int* volatile bad = reinterpret_cast<int*>(uintptr_t(16));  // the compiler cannot know it
            *bad = 1;
        }
        if (TP_FAILURE == 3) {
            const char* volatile wild = reinterpret_cast<const char*>(uintptr_t(16));
            wchar_t wide[64];
            MultiByteToWideChar(CP_UTF8, 0, wild, -1, wide, 64);
        }
        if (TP_FAILURE == 4) {
            using Garbage = void (*)(float**, VstInt32);
            Garbage volatile garbage = reinterpret_cast<Garbage>(uintptr_t(0x10));
            garbage(out, frames);
        }
        for (;;)
            Sleep(1000);
    }
#endif
    for (VstInt32 i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < e->numInputs; ++c)
            sum += in[c][i];
        for (int k = 0; k < e->numOutputs; ++k)
            out[k][i] = sum * float(k + 1) * 0.25f;
    }
}

void VSTCALLBACK setParameter(AEffect* e, VstInt32 index, float value) {
    if (index >= 0 && index < TP_PARAMS)
        static_cast<TestEffect*>(e->object)->parameters[index] = value;
}

float VSTCALLBACK getParameter(AEffect* e, VstInt32 index) {
    return index >= 0 && index < TP_PARAMS ? static_cast<TestEffect*>(e->object)->parameters[index] : 0.0f;
}

}  // namespace

extern "C" AEffect* testPluginMain(audioMasterCallback host) {
    g_host = host;
#if TP_ON_CUE
    readCue();
#endif
    auto* self = new TestEffect();
    AEffect& e = self->effect;
    e.magic = TP_MAGIC;
    e.dispatcher = dispatcher;
    e.processReplacing = processReplacing;
    e.setParameter = setParameter;
    e.getParameter = getParameter;
    e.numPrograms = TP_PROGRAMS;
    e.numParams = TP_PARAMS;
    e.numInputs = TP_INPUTS;
    e.numOutputs = TP_OUTPUTS;
    e.flags = TP_FLAGS;
    e.ioRatio = 1.0f;
    e.object = self;
    e.uniqueID = fourCharCode('t', 'e', 's', 't');
    e.version = 1;
    if (TP_CALLS_HOST_IN_ENTRY && host) {
        char directory[8] = "x";
        g_entryAnswers[0] = host(&e, audioMasterSizeWindow, 300, 200, nullptr, 0.0f);
        g_entryAnswers[1] = host(&e, audioMasterGetDirectory, 0, 0, directory, 0.0f);
        g_entryAnswers[2] = host(&e, audioMasterNeedIdle, 0, 0, nullptr, 0.0f);
        g_entryAnswers[3] = host(&e, audioMasterVersion, 0, 0, nullptr, 0.0f);
    }
    log("main");
    return &e;
}

// Test access: the dispatcher log, the answers the host gave inside main, and a way
// to call the host as the plug-in would.
extern "C" int testPluginLog(char* out, int size) {
    std::snprintf(out, size_t(size), "%s", g_log.c_str());
    return int(g_log.size());
}

extern "C" void testPluginClearLog() { g_log.clear(); }

extern "C" VstIntPtr testPluginEntryAnswer(int i) { return i >= 0 && i < 4 ? g_entryAnswers[i] : -1; }

extern "C" VstIntPtr testPluginCallHost(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                        float opt) {
    return g_host ? g_host(e, opcode, index, value, ptr, opt) : -1;
}

// A new editor size asked for at once from the calling thread, or at the next
// effEditIdle (on the thread that idles the editor, the host's UI thread).
extern "C" VstIntPtr testPluginAskForEditorSize(AEffect* e, int width, int height) {
    return askForEditorSize(e, width, height);
}

extern "C" void testPluginAskForEditorSizeOnIdle(int width, int height) {
    g_sizeOnIdleHeight.store(height);
    g_sizeOnIdleWidth.store(width);  // last: the idle call reads the width first
}

extern "C" void testPluginSetChunkAnswer(int overridden, VstIntPtr answer, int nullPointer) {
    g_chunkOverridden = overridden != 0;
    g_chunkAnswer = answer;
    g_chunkNull = nullPointer != 0;
}
