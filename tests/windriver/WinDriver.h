#pragma once
// A small driver for the window tests: starts the program (as its own process, or
// hosted on a thread of the test process), finds its windows by class, sends
// commands and key strokes, reads window texts, positions and menu states, answers
// the message boxes the program raises, reads the registry it leaves and takes
// screenshots of the bench's X display.
#include <cstdint>
#include <string>
#include <vector>

#include "WinInclude.h"

namespace windriver {

// --- the program as its own process ---
class ProgramProcess {
public:
    ProgramProcess() = default;
    virtual ~ProgramProcess();  // ends a program still running
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    // Starts "exe" arguments; false when it could not be started.
    bool start(const std::string& exePath, const std::string& arguments);
    DWORD processId() const { return processId_; }
    // True when the program ended within the time; its exit code is kept.
    bool waitForExit(DWORD timeoutMs);
    DWORD exitCode() const { return exitCode_; }
    // Asks the frame to close (WM_CLOSE) and waits for the program to end.
    bool close(HWND frame, DWORD timeoutMs);
    void kill();

private:
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    DWORD exitCode_ = STILL_ACTIVE;
};

// --- finding windows ---
// The first visible top-level window of the process with this class (and title,
// when given).
HWND findTopWindow(DWORD processId, const char* className, const char* title = nullptr);
HWND waitForTopWindow(DWORD processId, const char* className, const char* title, DWORD timeoutMs);
// A descendant of parent with this class and, when id >= 0, this control id.
HWND findChild(HWND parent, const char* className, int id = -1);
std::string windowText(HWND window);
std::string className(HWND window);
RECT windowRect(HWND window);
RECT clientRect(HWND window);
// The client area's top-left corner on the screen.
POINT clientOrigin(HWND window);

// --- commands, keys and menus ---
// WM_COMMAND posted (returns at once, also when the command opens a modal box).
bool postCommand(HWND frame, int command);
// Ctrl (and the key) pressed and released through the system's input, to the
// window made foreground first: how accelerators are reached.
bool pressKeys(HWND window, const std::vector<WORD>& keys);
struct MenuItemState {
    bool found;
    bool checked;
    bool grayed;
};
// Puts the cursor on a screen point and returns once every thread of the bench
// would read it there (false if it never got there).
bool placeCursor(int x, int y);
// Only within the process that owns the menu (Wine keeps menus per process).
MenuItemState menuItemState(HWND frame, UINT command);

// --- message boxes and dialogs ---
struct MessageBoxSeen {
    HWND window;
    std::string caption;
    std::string text;
};
// Visible message boxes and dialogs (#32770) of the process, topmost first.
std::vector<HWND> dialogsOf(DWORD processId);
// A dialog of the process whose caption is exactly this one; null on time-out.
HWND waitForDialogCaption(DWORD processId, const std::string& caption, DWORD timeoutMs);
// The system's file dialog with this caption answered: the path typed into its
// file-name field (the name it offered first kept in `offered`), then OK.
bool answerFileDialog(DWORD processId, const char* caption, const std::string& path, DWORD timeoutMs,
                      std::string* offered = nullptr);
// The first message box (a dialog with a static text) of the process whose caption
// starts with captionPrefix (any, when empty); window null on time-out.
MessageBoxSeen waitForMessageBox(DWORD processId, const std::string& captionPrefix, DWORD timeoutMs);
// The text a message box shows.
std::string messageBoxText(HWND box);
// Each visible dialog of the process as "caption: text", for a failure's message.
std::string describeDialogs(DWORD processId);
// Presses a button of a box or dialog by its id (IDOK, IDYES...) and waits for the
// window to go.
bool pressButton(HWND dialog, int id, DWORD timeoutMs = 5000);

// --- the registry left by the program (HKEY_CURRENT_USER) ---
class RegistryKey {
public:
    // Opens (creating when asked) the key; valid() tells.
    RegistryKey(const char* path, bool create);
    virtual ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    bool valid() const { return key_ != nullptr; }

    bool setDword(const char* name, uint32_t value);
    bool setFloat(const char* name, float value);
    bool setText(const char* name, const std::string& value);
    bool setPair(const char* name, int32_t x, int32_t y);
    bool setRaw(const char* name, DWORD type, const void* data, DWORD size);
    // The value's type (0 when missing) and bytes.
    DWORD read(const char* name, std::vector<uint8_t>* data) const;
    bool readDword(const char* name, uint32_t* value) const;
    bool readFloat(const char* name, float* value) const;
    bool readText(const char* name, std::string* value) const;
    bool readPair(const char* name, int32_t* x, int32_t* y) const;

private:
    HKEY key_ = nullptr;
};
// Removes "SOFTWARE\Talvenor Software" with everything below it: the next start
// is a first run.
void forgetProgramSettings();

// --- the screen ---
// Takes a PNG of the bench's X display into directory\name.png (Windows path) with
// ImageMagick's import; false when no file came.
bool takeScreenshot(const std::string& directory, const std::string& name);

// Waits until condition() holds, polling every 10 ms; false on time-out.
template <class Condition>
bool waitUntil(Condition condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

}  // namespace windriver
