#include "EditorWindow.h"

#include <cstdio>
#include <cstring>

#include "EditorSize.h"
#include "EffectHost.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "SharedResources.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"

namespace {

struct EditorClasses {
    HWND mdiClient;
    HINSTANCE instance;
    HMENU programMenu;
};
EditorClasses g_editors;

// The parameter being dragged in a parameter view (-1 when none) and where the
// cursor is held while it is.
struct ParameterDrag {
    int32_t parameter = -1;
    POINT anchor{};
};
ParameterDrag g_drag;

const int kRowTop = 30;
const int kRowHeight = 17;
const int kMaxProgramsListed = 256;

bool hasOwnEditor(const EffectSlot* slot) { return slot->plugin && slot->plugin->hasEditor(); }

EffectSlot* slotOf(HWND window) {
    return reinterpret_cast<EffectSlot*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

enum class ParameterText { Name, Value, Unit };

// A parameter text: at most 32 characters, leading spaces dropped.
void parameterText(EffectSlot* slot, ParameterText which, int32_t index, char* text) {
    char answer[100] = "";
    const PluginInstance& plugin = *slot->plugin;
    if (which == ParameterText::Name)
        plugin.parameterName(index, answer, sizeof answer);
    else if (which == ParameterText::Value)
        plugin.parameterValueText(index, answer, sizeof answer);
    else
        plugin.parameterUnit(index, answer, sizeof answer);
    answer[32] = '\0';
    const char* start = answer;
    while (*start == ' ')
        ++start;
    std::memmove(text, start, std::strlen(start) + 1);
}

int barWidth(float value) {
    int width = int(double(value) * 78.0 + 259.0) - 259;
    return width > 80 ? 80 : width;
}

void drawRow(HDC dc, EffectSlot* slot, int32_t index) {
    const int y = kRowTop + kRowHeight * index;
    char text[100];
    parameterText(slot, ParameterText::Name, index, text);
    TextOutA(dc, 8, y, text, int(std::strlen(text)));
    parameterText(slot, ParameterText::Value, index, text);
    TextOutA(dc, 108, y, text, int(std::strlen(text)));
    parameterText(slot, ParameterText::Unit, index, text);
    TextOutA(dc, 188, y, text, int(std::strlen(text)));
    RECT groove{258, y + 4, 338, y + 12};
    FillRect(dc, &groove, sharedResources().blackBrush);
    const int width = barWidth(slot->parameters ? slot->parameters[index] : 0.0f);
    if (width > 0 && sharedResources().valueBar)
        ImageList_DrawEx(sharedResources().valueBar, 0, dc, 259, y + 5, width, 6, RGB(0, 0, 0), CLR_NONE,
                         ILD_NORMAL);
}

void paintParameterView(HWND view, EffectSlot* slot) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(view, &paint);
    const SharedResources& shared = sharedResources();
    if (shared.parameterHeader)
        ImageList_Draw(shared.parameterHeader, 0, dc, 5, 4, ILD_NORMAL);
    HGDIOBJ oldFont = shared.textFont ? SelectObject(dc, shared.textFont) : nullptr;
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    for (int32_t i = 0; i < slot->parameterCount; ++i)
        drawRow(dc, slot, i);
    if (oldFont)
        SelectObject(dc, oldFont);
    EndPaint(view, &paint);
}

void beginDrag(HWND view, EffectSlot* slot, int x, int y) {
    g_drag.parameter = -1;
    for (int32_t i = 0; i < slot->parameterCount; ++i) {
        if (258 < x && x < 328 && kRowTop + kRowHeight * i < y && y < 47 + kRowHeight * i) {
            g_drag.parameter = i;
            break;
        }
    }
    SetCapture(view);
    ShowCursor(FALSE);
    GetCursorPos(&g_drag.anchor);
}

void dragTo(HWND view, EffectSlot* slot) {
    const int32_t i = g_drag.parameter;
    if (i < 0 || i >= slot->parameterCount || GetCapture() != view)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    SetCursorPos(g_drag.anchor.x, g_drag.anchor.y);
    const float value = slot->parameters[i];
    double moved = double(value) + double(cursor.x - g_drag.anchor.x) * 0.004;
    moved = moved < 0.0 ? 0.0 : (moved > 1.0 ? 1.0 : moved);
    if (float(moved) == value)
        return;
    slot->plugin->setParameterValue(i, float(moved));
    slot->parameters[i] = float(moved);
    RECT row{108, kRowTop + kRowHeight * i, 368, 50 + kRowHeight * i};
    InvalidateRect(view, &row, TRUE);
    UpdateWindow(view);
}

void endDrag() {
    const bool wasCaptured = GetCapture() != nullptr;
    g_drag.parameter = -1;
    if (wasCaptured)
        ReleaseCapture();
    SetCursorPos(g_drag.anchor.x, g_drag.anchor.y);
    ShowCursor(TRUE);
}

ParameterMenu g_parameterMenu = nullptr;

// The parameter whose row holds y, or -1.
int32_t parameterAt(const EffectSlot* slot, int y) {
    for (int32_t i = 0; i < slot->parameterCount; ++i)
        if (kRowTop + kRowHeight * i <= y && y < kRowTop + kRowHeight * (i + 1))
            return i;
    return -1;
}

LRESULT CALLBACK viewProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam) {
    EffectSlot* slot = slotOf(view);
    if (!slot || hasOwnEditor(slot))
        return DefWindowProcA(view, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        paintParameterView(view, slot);
        return 0;
    case WM_LBUTTONDOWN:
        beginDrag(view, slot, short(LOWORD(lParam)), short(HIWORD(lParam)));
        return 0;
    case WM_MOUSEMOVE:
        dragTo(view, slot);
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == view)
            endDrag();
        return 0;
    case WM_RBUTTONUP: {
        POINT at{short(LOWORD(lParam)), short(HIWORD(lParam))};
        const int32_t parameter = parameterAt(slot, at.y);
        if (g_parameterMenu && parameter >= 0) {
            ClientToScreen(view, &at);
            g_parameterMenu(view, slot, parameter, at.x, at.y);
        }
        return 0;
    }
    default:
        return DefWindowProcA(view, message, wParam, lParam);
    }
}

void openProgramMenu(HWND frame, EffectSlot* slot) {
    if (g_editors.programMenu)
        DestroyMenu(g_editors.programMenu);
    g_editors.programMenu = buildProgramMenu(slot);
    POINT cursor;
    GetCursorPos(&cursor);
    TrackPopupMenu(g_editors.programMenu, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, frame, nullptr);
}

void chooseProgram(EffectSlot* slot, int32_t program) {
    slot->currentProgram = program;
    slot->plugin->selectProgram(program);
    for (int32_t i = 0; i < slot->parameterCount; ++i)
        slot->parameters[i] = slot->plugin->parameterValue(i);
    if (slot->editorView) {
        InvalidateRect(static_cast<HWND>(slot->editorView), nullptr, TRUE);
        UpdateWindow(static_cast<HWND>(slot->editorView));
    }
}

// Every open editor whose window is another process's follows the frames: any
// frame that moves or comes up may uncover or cover one.
void editorFramesChanged() {
    EffectHost* host = EffectHost::instance();
    for (EffectSlot* slot = host ? host->slotList() : nullptr; slot; slot = slot->next)
        if (slot->editorFrame && hasOwnEditor(slot))
            slot->plugin->editorFrameChanged();
}

// The user resized the frame of a plug-in's own editor: the plug-in takes the size
// where its format allows (it may adjust it), else the frame goes back to its size.
void userResized(HWND frame, EffectSlot* slot) {
    RECT client;
    GetClientRect(frame, &client);
    int32_t width = client.right - kEditorViewLeft, height = client.bottom;
    if (!slot->plugin->resizeEditor(&width, &height)) {
        RECT view;
        GetWindowRect(static_cast<HWND>(slot->editorView), &view);
        width = view.right - view.left;
        height = view.bottom - view.top;
    }
    resizeEditor(frame, slot->editorView, width, height);
}

LRESULT CALLBACK frameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    EffectSlot* slot = slotOf(frame);
    switch (message) {
    case WM_WINDOWPOSCHANGED:
    case WM_MDIACTIVATE:
    case WM_NCACTIVATE:  // also when the program's window comes up: the editors come with it
    case WM_SHOWWINDOW:
        editorFramesChanged();
        break;
    case WM_EXITSIZEMOVE:
        if (slot && slot->editorFrame == frame && hasOwnEditor(slot))
            userResized(frame, slot);
        editorFramesChanged();
        break;
    case WM_DESTROY:
        // Closed by the user: the plug-in's editor is told here. Closed by
        // closeEditor or unloading, the slot no longer names this frame and the
        // plug-in has been told already, so it hears it once.
        if (slot && slot->editorFrame == frame) {
            slot->editorFrame = nullptr;
            slot->editorView = nullptr;
            slot->plugin->closeEditor();
        }
        SetWindowLongPtrA(frame, GWLP_USERDATA, 0);
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(frame, &paint);
        if (sharedResources().programsButton)
            ImageList_Draw(sharedResources().programsButton, 0, dc, 2, 2, ILD_NORMAL);
        EndPaint(frame, &paint);
        return 0;
    }
    case WM_LBUTTONDOWN:
        if (slot && short(LOWORD(lParam)) <= 19 && short(HIWORD(lParam)) <= 22)
            openProgramMenu(frame, slot);
        return 0;
    case WM_COMMAND:
        if (slot && HIWORD(wParam) == 0 && lParam == 0) {
            chooseProgram(slot, LOWORD(wParam));
            return 0;
        }
        break;
    case kEditorSizeMessage:
        // A size the plug-in asked for from another thread.
        if (slot && slot->editorFrame == frame) {
            int32_t width = 0, height = 0;
            takeAskedEditorSize(*slot, &width, &height);
            resizeEditor(frame, slot->editorView, width, height);
        }
        return 0;
    default:
        break;
    }
    return DefMDIChildProcA(frame, message, wParam, lParam);
}

}  // namespace

void setParameterMenu(ParameterMenu menu) { g_parameterMenu = menu; }

bool registerEditorClasses(HWND mdiClient, HINSTANCE instance) {
    g_editors.mdiClient = mdiClient;
    g_editors.instance = instance;
    WNDCLASSEXA frameClass{};
    frameClass.cbSize = sizeof frameClass;
    frameClass.style = CS_HREDRAW | CS_VREDRAW;
    frameClass.lpfnWndProc = frameProc;
    frameClass.hInstance = instance;
    frameClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(107));
    frameClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(108));
    frameClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frameClass.lpszClassName = kEditorFrameClassName;
    WNDCLASSEXA viewClass{};
    viewClass.cbSize = sizeof viewClass;
    viewClass.style = CS_HREDRAW | CS_VREDRAW;
    viewClass.lpfnWndProc = viewProc;
    viewClass.hInstance = instance;
    viewClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    HBITMAP pattern = LoadBitmapA(instance, MAKEINTRESOURCEA(160));
    viewClass.hbrBackground = pattern ? CreatePatternBrush(pattern) : reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    if (pattern)
        DeleteObject(pattern);  // the brush keeps its own copy
    viewClass.lpszClassName = kEditorViewClassName;
    return RegisterClassExA(&frameClass) && RegisterClassExA(&viewClass);
}

void unregisterEditorClasses(HINSTANCE instance) {
    WNDCLASSEXA view{};
    view.cbSize = sizeof view;
    HBRUSH pattern = nullptr;
    if (GetClassInfoExA(instance, kEditorViewClassName, &view) &&
        view.hbrBackground != reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))
        pattern = view.hbrBackground;
    UnregisterClassA(kEditorFrameClassName, instance);
    UnregisterClassA(kEditorViewClassName, instance);
    if (pattern)
        DeleteObject(pattern);
    if (g_editors.programMenu)
        DestroyMenu(g_editors.programMenu);
    g_editors = EditorClasses{};
}

namespace {

int32_t parameterListHeight(const EffectSlot* slot) { return slot->parameterCount * kRowHeight + 40; }

// The plug-in's parameter list changed: the view takes its new length and values.
void showParameterList(EffectSlot* slot) {
    resizeEditor(slot->editorFrame, slot->editorView, 360, parameterListHeight(slot));
    InvalidateRect(static_cast<HWND>(slot->editorView), nullptr, TRUE);
}

}  // namespace

bool openEditor(EffectSlot* slot) {
    if (!slot || !slot->plugin)
        return false;
    if (slot->editorFrame) {
        SendMessageA(g_editors.mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(slot->editorFrame), 0);
        return true;
    }
    char title[64] = "";
    EffectHost* host = EffectHost::instance();
    if (!host || !host->effectName(slot, title))
        title[0] = '\0';
    HWND frame = CreateMDIWindowA(kEditorFrameClassName, title, WS_CHILD | WS_CLIPSIBLINGS, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 10, 10, g_editors.mdiClient, g_editors.instance, 1);
    if (!frame)
        return false;
    SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slot));
    int32_t width = 360;
    int32_t height = parameterListHeight(slot);
    HWND view = CreateWindowExA(0, kEditorViewClassName, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 15, 0, 0,
                                0, frame, nullptr, g_editors.instance, nullptr);
    if (!view) {
        DestroyWindow(frame);
        return false;
    }
    SetWindowLongPtrA(view, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slot));
    slot->editorView = view;
    if (hasOwnEditor(slot)) {
        if (!slot->plugin->openEditor(view, &width, &height)) {
            slot->editorView = nullptr;
            SendMessageA(g_editors.mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
            return false;
        }
    }
    resizeEditor(frame, view, width, height);
    // A size message that went with an earlier frame is lost with it.
    __atomic_store_n(&slot->editorSizePosted, uint8_t(0), __ATOMIC_RELEASE);
    slot->editorFrame = frame;
    ShowWindow(frame, SW_SHOW);
    if (hasOwnEditor(slot))
        slot->plugin->editorFrameChanged();  // an editor in a window of its own comes up with the frame
    return true;
}

void closeEditor(EffectSlot* slot) {
    if (!slot || !slot->editorFrame)
        return;
    HWND frame = static_cast<HWND>(slot->editorFrame);
    slot->editorFrame = nullptr;
    slot->editorView = nullptr;
    slot->plugin->closeEditor();
    SendMessageA(g_editors.mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
}

bool openPositionEditor(const LiveSettings& settings, int32_t position) {
    if (position < 0 || position >= LiveSettings::kPositions)
        return false;
    EffectSlot* slot = settings.slots[position];
    return !slot || openEditor(slot);
}

namespace {

// The slot whose editor, a window of another process's, is the foreground window.
EffectSlot* slotWithEditorInFront() {
    EffectHost* host = EffectHost::instance();
    HWND foreground = nullptr;  // asked for only once an editor is open: a trip to Wine's server
    for (EffectSlot* slot = host ? host->slotList() : nullptr; slot; slot = slot->next) {
        if (!slot->editorFrame || !hasOwnEditor(slot))
            continue;
        if (!foreground && !(foreground = GetForegroundWindow()))
            return nullptr;
        if (slot->plugin->ownsEditorWindow(foreground))
            return slot;
    }
    return nullptr;
}

bool g_litForEditor = false;  // the program's title lit for such an editor

}  // namespace

bool pluginEditorInFront() {
    g_litForEditor = slotWithEditorInFront() != nullptr;
    return g_litForEditor;
}

void followPluginEditorInFront(HWND programWindow) {
    EffectSlot* slot = slotWithEditorInFront();
    if (!slot && !g_litForEditor)
        return;
    if (GetActiveWindow()) {
        g_litForEditor = false;  // a window of ours is active: the system lights it
        return;
    }
    if (slot) {
        bool changed = !g_litForEditor;
        HWND frame = static_cast<HWND>(slot->editorFrame);
        if (reinterpret_cast<HWND>(SendMessageA(g_editors.mdiClient, WM_MDIGETACTIVE, 0, 0)) != frame) {
            SendMessageA(g_editors.mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(frame), 0);
            changed = true;
        }
        g_litForEditor = true;
        if (changed)  // through to the front frame
            SendMessageA(programWindow, WM_NCACTIVATE, TRUE, 0);
    } else {
        g_litForEditor = false;
        SendMessageA(programWindow, WM_NCACTIVATE, FALSE, 0);
    }
}

bool idleSlots(EffectHost& host) {
    bool failed = false;
    for (EffectSlot* slot = host.slotList(); slot; slot = slot->next) {
        if ((host.serviceSlot(slot) & EffectSlot::kNewsParameters) && slot->editorView && !hasOwnEditor(slot))
            showParameterList(slot);
        char how[160];
        if (!slot->failureTold && slot->plugin && slot->plugin->failed(how, sizeof how)) {
            slot->failureTold = true;
            failed = true;
            // Its own editor went with its process: the frame that held it goes too.
            if (slot->editorFrame && hasOwnEditor(slot))
                closeEditor(slot);
            char detail[256];
            std::snprintf(detail, sizeof detail, "%s %s", slot->plugin->identity().name, how);
            showErrorWithDetail(kStrEffectFailed, detail);  // the audio goes on meanwhile
        }
    }
    return failed;
}

HMENU buildProgramMenu(const EffectSlot* slot) {
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return nullptr;
    const int32_t programs = slot->programCount;
    if (programs < 1) {
        AppendMenuA(menu, MF_STRING | MF_GRAYED, 0, "<no programs>");
        return menu;
    }
    for (int32_t p = 0; p < programs && p < kMaxProgramsListed; ++p) {
        char name[EffectSlot::kProgramNameSize + 1];
        std::memcpy(name, slot->programNames + p * EffectSlot::kProgramNameSize, EffectSlot::kProgramNameSize);
        name[EffectSlot::kProgramNameSize] = '\0';
        bool listed = false;
        const int items = GetMenuItemCount(menu);
        for (int i = 0; i < items && !listed; ++i) {
            char shown[64] = "";
            GetMenuStringA(menu, UINT(i), shown, sizeof shown, MF_BYPOSITION);
            listed = std::strcmp(shown, name) == 0;
        }
        if (listed)
            continue;
        const UINT checked = p == slot->currentProgram ? MF_CHECKED : MF_UNCHECKED;
        InsertMenuA(menu, UINT(p), MF_BYPOSITION | MF_STRING | checked, UINT_PTR(p), name);
    }
    return menu;
}
