#include "WinDriver.h"

#include <cstdio>
#include <cstring>

#include "UnixPrograms.h"

namespace windriver {

namespace {

struct TopSearch {
    DWORD processId;
    const char* className;
    const char* title;
    HWND found;
};

BOOL CALLBACK matchTopWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<TopSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    if (className(window) != search->className)
        return TRUE;
    if (search->title && windowText(window) != search->title)
        return TRUE;
    search->found = window;
    return FALSE;
}

struct ChildSearch {
    const char* className;
    int id;
    HWND found;
};

BOOL CALLBACK matchChild(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ChildSearch*>(context);
    if (search->className && className(window) != search->className)
        return TRUE;
    if (search->id >= 0 && GetDlgCtrlID(window) != search->id)
        return TRUE;
    search->found = window;
    return FALSE;
}

struct DialogList {
    DWORD processId;
    std::vector<HWND>* dialogs;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM context) {
    auto* list = reinterpret_cast<DialogList*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == list->processId && IsWindowVisible(window) && className(window) == "#32770")
        list->dialogs->push_back(window);
    return TRUE;
}

BOOL CALLBACK collectStatic(HWND window, LPARAM context) {
    auto* texts = reinterpret_cast<std::vector<std::string>*>(context);
    if (className(window) == "Static" && !(GetWindowLongA(window, GWL_STYLE) & SS_ICON))
        texts->push_back(windowText(window));
    return TRUE;
}

std::wstring widen(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], int(wide.size()));
    wide.resize(n > 0 ? size_t(n - 1) : 0);
    return wide;
}

}  // namespace

// --- ProgramProcess ---

ProgramProcess::~ProgramProcess() { kill(); }

bool ProgramProcess::start(const std::string& exePath, const std::string& arguments) {
    std::string line = "\"" + exePath + "\"";
    if (!arguments.empty())
        line += " " + arguments;
    std::vector<char> command(line.begin(), line.end());
    command.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(exePath.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    exitCode_ = STILL_ACTIVE;
    WaitForInputIdle(process_, 10000);
    return true;
}

bool ProgramProcess::waitForExit(DWORD timeoutMs) {
    if (!process_)
        return true;
    if (WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(process_, &exitCode_);
    CloseHandle(process_);
    process_ = nullptr;
    return true;
}

bool ProgramProcess::close(HWND frame, DWORD timeoutMs) {
    if (frame)
        PostMessageA(frame, WM_CLOSE, 0, 0);
    return waitForExit(timeoutMs);
}

void ProgramProcess::kill() {
    if (!process_)
        return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
    process_ = nullptr;
}

// --- windows ---

HWND findTopWindow(DWORD processId, const char* className, const char* title) {
    TopSearch search{processId, className, title, nullptr};
    EnumWindows(matchTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForTopWindow(DWORD processId, const char* className, const char* title, DWORD timeoutMs) {
    HWND found = nullptr;
    waitUntil([&] { return (found = findTopWindow(processId, className, title)) != nullptr; }, timeoutMs);
    return found;
}

HWND findChild(HWND parent, const char* className, int id) {
    ChildSearch search{className, id, nullptr};
    EnumChildWindows(parent, matchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string windowText(HWND window) {
    char text[1024] = "";
    // WM_GETTEXT reaches windows of other processes too.
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
    text[sizeof text - 1] = '\0';
    return text;
}

std::string className(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

RECT windowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

RECT clientRect(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return rect;
}

POINT clientOrigin(HWND window) {
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    return origin;
}

// --- commands, keys, menus ---

bool postCommand(HWND frame, int command) { return PostMessageA(frame, WM_COMMAND, WPARAM(command), 0) != 0; }

bool pressKeys(HWND window, const std::vector<WORD>& keys) {
    SetForegroundWindow(window);
    SetFocus(window);
    waitUntil([&] { return GetForegroundWindow() == window; }, 1000);
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        inputs.push_back(input);
    }
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *it;
        input.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    return SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

// Wine answers GetCursorPos from its own record for 100 ms after a move, and after
// that asks the display through the calling thread's connection. The move itself is
// a warp sent through this thread's connection, which a busy display may not have
// carried out when another thread (the program's window thread) asks: that thread
// then reads the old place and writes it back. Waiting past Wine's 100 ms before
// reading here makes this thread ask the display itself, after its own warp, so
// the position it reports is one the display holds for every connection.
bool placeCursor(int x, int y) {
    // A warp another thread sent just before may land after this one: move again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        SetCursorPos(x, y);
        Sleep(150);
        POINT now;
        if (GetCursorPos(&now) && now.x == x && now.y == y)
            return true;
    }
    return false;
}

MenuItemState menuItemState(HWND frame, UINT command) {
    HMENU menu = GetMenu(frame);
    const UINT state = menu ? GetMenuState(menu, command, MF_BYCOMMAND) : UINT(-1);
    if (state == UINT(-1))
        return MenuItemState{false, false, false};
    return MenuItemState{true, (state & MF_CHECKED) != 0, (state & (MF_GRAYED | MF_DISABLED)) != 0};
}

// --- boxes and dialogs ---

std::vector<HWND> dialogsOf(DWORD processId) {
    std::vector<HWND> dialogs;
    DialogList list{processId, &dialogs};
    EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&list));
    return dialogs;
}

HWND waitForDialogCaption(DWORD processId, const std::string& caption, DWORD timeoutMs) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            for (HWND dialog : dialogsOf(processId))
                if (windowText(dialog) == caption)
                    return (found = dialog) != nullptr;
            return false;
        },
        timeoutMs);
    return found;
}

bool answerFileDialog(DWORD processId, const char* caption, const std::string& path, DWORD timeoutMs,
                      std::string* offered) {
    HWND dialog = waitForDialogCaption(processId, caption, timeoutMs);
    if (!dialog)
        return false;
    HWND name = GetDlgItem(dialog, 0x480);  // edt1
    if (!name)
        name = GetDlgItem(dialog, 0x47c);  // cmb13
    if (!name)
        return false;
    if (offered)
        *offered = windowText(name);
    if (!SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str())))
        return false;
    return pressButton(dialog, IDOK, timeoutMs);
}

std::string messageBoxText(HWND box) {
    std::vector<std::string> texts;
    EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&texts));
    for (const auto& text : texts)
        if (!text.empty())
            return text;
    return "";
}

std::string describeDialogs(DWORD processId) {
    std::string seen;
    for (HWND dialog : dialogsOf(processId))
        seen += "[" + windowText(dialog) + ": " + messageBoxText(dialog) + "] ";
    return seen;
}

MessageBoxSeen waitForMessageBox(DWORD processId, const std::string& captionPrefix, DWORD timeoutMs) {
    MessageBoxSeen seen{nullptr, "", ""};
    waitUntil(
        [&] {
            for (HWND dialog : dialogsOf(processId)) {
                const std::string caption = windowText(dialog);
                if (caption.compare(0, captionPrefix.size(), captionPrefix) != 0)
                    continue;
                seen = MessageBoxSeen{dialog, caption, messageBoxText(dialog)};
                return true;
            }
            return false;
        },
        timeoutMs);
    return seen;
}

bool pressButton(HWND dialog, int id, DWORD timeoutMs) {
    HWND button = GetDlgItem(dialog, id);
    if (!PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)))
        return false;
    return waitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeoutMs);
}

// --- registry ---

RegistryKey::RegistryKey(const char* path, bool create) {
    HKEY key = nullptr;
    const LONG result = create ? RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                                 nullptr, &key, nullptr)
                               : RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ | KEY_WRITE, &key);
    key_ = result == ERROR_SUCCESS ? key : nullptr;
}

RegistryKey::~RegistryKey() {
    if (key_)
        RegCloseKey(key_);
}

bool RegistryKey::setRaw(const char* name, DWORD type, const void* data, DWORD size) {
    return key_ && RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool RegistryKey::setDword(const char* name, uint32_t value) { return setRaw(name, REG_DWORD, &value, sizeof value); }

bool RegistryKey::setFloat(const char* name, float value) { return setRaw(name, REG_DWORD, &value, sizeof value); }

bool RegistryKey::setText(const char* name, const std::string& value) {
    return setRaw(name, REG_SZ, value.c_str(), DWORD(value.size() + 1));
}

bool RegistryKey::setPair(const char* name, int32_t x, int32_t y) {
    const int32_t pair[2] = {x, y};
    return setRaw(name, REG_BINARY, pair, sizeof pair);
}

DWORD RegistryKey::read(const char* name, std::vector<uint8_t>* data) const {
    DWORD type = 0;
    DWORD size = 0;
    if (!key_ || RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return 0;
    data->assign(size, 0);
    if (RegQueryValueExA(key_, name, nullptr, &type, data->data(), &size) != ERROR_SUCCESS)
        return 0;
    data->resize(size);
    return type;
}

bool RegistryKey::readDword(const char* name, uint32_t* value) const {
    std::vector<uint8_t> data;
    if (read(name, &data) != REG_DWORD || data.size() != 4)
        return false;
    std::memcpy(value, data.data(), 4);
    return true;
}

bool RegistryKey::readFloat(const char* name, float* value) const {
    uint32_t bits = 0;
    if (!readDword(name, &bits))
        return false;
    std::memcpy(value, &bits, 4);
    return true;
}

bool RegistryKey::readText(const char* name, std::string* value) const {
    std::vector<uint8_t> data;
    if (read(name, &data) != REG_SZ)
        return false;
    value->assign(reinterpret_cast<const char*>(data.data()), strnlen(reinterpret_cast<const char*>(data.data()),
                                                                      data.size()));
    return true;
}

bool RegistryKey::readPair(const char* name, int32_t* x, int32_t* y) const {
    std::vector<uint8_t> data;
    if (read(name, &data) != REG_BINARY || data.size() != 8)
        return false;
    std::memcpy(x, data.data(), 4);
    std::memcpy(y, data.data() + 4, 4);
    return true;
}

void forgetProgramSettings() { RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Talvenor Software"); }

// --- screen ---

bool takeScreenshot(const std::string& directory, const std::string& name) {
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string path = directory + "\\" + name + ".png";
    DeleteFileA(path.c_str());
    char display[64] = "";
    if (!GetEnvironmentVariableA("DISPLAY", display, sizeof display))
        return false;
    const std::string unixPath = unixPathOf(path);
    if (!startUnixProgram("/usr/bin/import -display " + std::string(display) + " -window root " + unixPath))
        return false;
    // import runs on its own; the file is complete once its size stops changing.
    LONGLONG lastSize = -1;
    int steady = 0;
    return waitUntil(
        [&] {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data))
                return false;
            const LONGLONG size = (LONGLONG(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            steady = size > 0 && size == lastSize ? steady + 1 : 0;
            lastSize = size;
            return steady >= 20;
        },
        20000);
}

}  // namespace windriver
