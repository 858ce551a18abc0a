#include "SetlistWindow.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <commctrl.h>

#include "MessageBoxes.h"
#include "ResourceIds.h"
#include "SetlistSession.h"
#include "ShellState.h"
#include "StringIds.h"
#include "Window.h"

namespace {

const int kClientWidth = 420;
const int kClientHeight = 388;
const int kRowHeight = 22;
const RECT kDisplay = {10, 10, 410, 66};

// The colours of the program's panels (the tuner's): a dark face, pale labels, an
// amber readout in a black well.
const COLORREF kPanel = RGB(30, 30, 44);
const COLORREF kLabel = RGB(200, 200, 226);
const COLORREF kWell = RGB(7, 7, 12);
const COLORREF kAmber = RGB(255, 168, 40);
const COLORREF kDim = RGB(110, 110, 132);
const COLORREF kRed = RGB(230, 70, 60);
const COLORREF kKey = RGB(52, 52, 70);
const COLORREF kKeyEdge = RGB(90, 90, 116);
const COLORREF kRowSelected = RGB(44, 48, 72);

HWND g_setlistWindow = nullptr;

std::string text(int id) {
    char buffer[256] = "";
    if (!loadStringText(id, buffer, sizeof buffer))
        buffer[0] = '\0';
    return buffer;
}

class SetlistWindow : public Window {
public:
    int markedRow = -1;
    std::string display;

    void refresh() {
        HWND list = GetDlgItem(hwnd(), IDC_SETLIST_LIST);
        int selected = int(SendMessageA(list, LB_GETCURSEL, 0, 0));
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
        const int count = setlistEntryCount();
        for (int i = 0; i < count; ++i)
            SendMessageA(list, LB_ADDSTRING, 0, LPARAM(i));
        if (selected >= count)
            selected = count - 1;
        if (selected < 0 && count > 0)
            selected = currentSetlistEntry() >= 0 ? currentSetlistEntry() : 0;
        SendMessageA(list, LB_SETCURSEL, WPARAM(selected), 0);
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        // The mark is what the rows drew: it is set again as they paint.
        markedRow = -1;
        InvalidateRect(list, nullptr, TRUE);
        const int current = currentSetlistEntry();
        if (current >= 0)
            SendMessageA(list, LB_SETTOPINDEX, WPARAM(current > 2 ? current - 2 : 0), 0);
        updateDisplay();
        syncControls();
    }

    void select(int row) {
        SendDlgItemMessageA(hwnd(), IDC_SETLIST_LIST, LB_SETCURSEL, WPARAM(row), 0);
        syncControls();
    }

    int selectedRow() const { return int(SendDlgItemMessageA(hwnd(), IDC_SETLIST_LIST, LB_GETCURSEL, 0, 0)); }

protected:
    LRESULT onCreate(CREATESTRUCTA* create) override {
        labelFont_ = CreateFontA(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS, "Tahoma");
        rowFont_ = CreateFontA(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS, "Tahoma");
        bigFont_ = CreateFontA(-24, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS, "Tahoma");
        panelBrush_ = CreateSolidBrush(kPanel);
        wellBrush_ = CreateSolidBrush(kWell);
        HINSTANCE instance = create->hInstance;
        key(IDC_SETLIST_PREVIOUS, text(kStrSetlistPrevious), 10, 74, 196, 40, instance);
        key(IDC_SETLIST_NEXT, text(kStrSetlistNext), 214, 74, 196, 40, instance);
        HWND list = control("LISTBOX", "",
                            LBS_OWNERDRAWFIXED | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP, 10, 122,
                            360, 8 * kRowHeight + 2, IDC_SETLIST_LIST, instance, WS_EX_CLIENTEDGE);
        SendMessageA(list, LB_SETITEMHEIGHT, 0, kRowHeight);
        key(IDC_SETLIST_UP, "", 378, 122, 32, 40, instance);
        key(IDC_SETLIST_DOWN, "", 378, 168, 32, 40, instance);
        key(IDC_SETLIST_ADD, text(kStrSetlistAdd), 10, 300, 76, 24, instance);
        key(IDC_SETLIST_REMOVE, text(kStrSetlistRemove), 92, 300, 76, 24, instance);
        control("BUTTON", text(kStrSetlistAutoplay).c_str(), BS_AUTOCHECKBOX | WS_TABSTOP, 178, 304, 232, 18,
                IDC_SETLIST_AUTOPLAY, instance);
        control("BUTTON", text(kStrSetlistKeepChanges).c_str(), BS_AUTOCHECKBOX | WS_TABSTOP, 10, 332, 196, 18,
                IDC_SETLIST_KEEP_CHANGES, instance);
        control("STATIC", text(kStrSetlistTail).c_str(), SS_RIGHT, 206, 334, 144, 16, -1, instance);
        HWND edit = control("EDIT", "3", ES_NUMBER | ES_CENTER | WS_BORDER | WS_TABSTOP, 356, 330, 54, 22,
                            IDC_SETLIST_TAIL, instance);
        SendMessageA(edit, EM_LIMITTEXT, 2, 0);
        HWND spin = control(UPDOWN_CLASSA, "",
                            UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS | UDS_AUTOBUDDY, 0, 0,
                            0, 0, IDC_SETLIST_TAIL_SPIN, instance);
        SendMessageA(spin, UDM_SETRANGE32, 0, 10);
        key(IDC_SETLIST_NEW, text(kStrSetlistNew), 10, 358, 94, 24, instance);
        key(IDC_SETLIST_OPEN, text(kStrSetlistOpen), 112, 358, 94, 24, instance);
        key(IDC_SETLIST_SAVE, text(kStrSetlistSave), 214, 358, 94, 24, instance);
        key(IDC_SETLIST_SAVE_AS, text(kStrSetlistSaveAs), 316, 358, 94, 24, instance);
        refresh();
        return 0;
    }

    void onDestroy() override {
        if (hwnd() == g_setlistWindow)
            g_setlistWindow = nullptr;
        for (HGDIOBJ* object : {reinterpret_cast<HGDIOBJ*>(&labelFont_), reinterpret_cast<HGDIOBJ*>(&rowFont_),
                                reinterpret_cast<HGDIOBJ*>(&bigFont_), reinterpret_cast<HGDIOBJ*>(&panelBrush_),
                                reinterpret_cast<HGDIOBJ*>(&wellBrush_)}) {
            if (*object)
                DeleteObject(*object);
            *object = nullptr;
        }
    }

    LRESULT onEraseBackground(HDC dc) override {
        RECT client;
        GetClientRect(hwnd(), &client);
        FillRect(dc, &client, panelBrush_);
        return 1;
    }

    LRESULT onPaint() override {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd(), &paint);
        paintDisplay(dc);
        EndPaint(hwnd(), &paint);
        return 0;
    }

    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case WM_CLOSE:
            ShowWindow(hwnd(), SW_HIDE);
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE)
                SetFocus(GetDlgItem(hwnd(), IDC_SETLIST_LIST));
            return 0;
        case WM_COMMAND:
            command(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_MEASUREITEM:
            reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = kRowHeight;
            return TRUE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlType == ODT_LISTBOX)
                drawRow(*item);
            else
                drawKey(*item);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kLabel);
            SetBkColor(dc, kPanel);
            return reinterpret_cast<LRESULT>(panelBrush_);
        }
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX: {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, kAmber);
            SetBkColor(dc, kWell);
            return reinterpret_cast<LRESULT>(wellBrush_);
        }
        default:
            return Window::onMessage(message, wParam, lParam);
        }
    }

private:
    HWND control(const char* cls, const char* caption, DWORD style, int x, int y, int w, int h, int id,
                 HINSTANCE instance, DWORD extended = 0) {
        HWND made = CreateWindowExA(extended, cls, caption, WS_CHILD | WS_VISIBLE | style, x, y, w, h, hwnd(),
                                    reinterpret_cast<HMENU>(INT_PTR(id)), instance, nullptr);
        if (made && labelFont_)
            SendMessageA(made, WM_SETFONT, WPARAM(id == IDC_SETLIST_LIST ? rowFont_ : labelFont_), FALSE);
        return made;
    }

    void key(int id, const std::string& caption, int x, int y, int w, int h, HINSTANCE instance) {
        control("BUTTON", caption.c_str(), BS_OWNERDRAW | WS_TABSTOP, x, y, w, h, id, instance);
    }

    void updateDisplay() {
        const int current = currentSetlistEntry();
        char line[400];
        if (current >= 0)
            std::snprintf(line, sizeof line, "%d / %d  %s", current + 1, setlistEntryCount(),
                          setlistEntryView(current).name.c_str());
        else if (setlistEntryCount() > 0)
            std::snprintf(line, sizeof line, "- / %d", setlistEntryCount());
        else
            line[0] = '\0';
        display = line;
        InvalidateRect(hwnd(), &kDisplay, TRUE);
    }

    void syncControls() {
        const int row = selectedRow();
        const int count = setlistEntryCount();
        const bool any = row >= 0 && row < count;
        CheckDlgButton(hwnd(), IDC_SETLIST_AUTOPLAY, any && setlistEntryView(row).autoplay ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(hwnd(), IDC_SETLIST_KEEP_CHANGES, keepChangesForShow() ? BST_CHECKED : BST_UNCHECKED);
        EnableWindow(GetDlgItem(hwnd(), IDC_SETLIST_AUTOPLAY), any);
        EnableWindow(GetDlgItem(hwnd(), IDC_SETLIST_REMOVE), any);
        EnableWindow(GetDlgItem(hwnd(), IDC_SETLIST_UP), any && row > 0);
        EnableWindow(GetDlgItem(hwnd(), IDC_SETLIST_DOWN), any && row + 1 < count);
        EnableWindow(GetDlgItem(hwnd(), IDC_SETLIST_PREVIOUS), count > 0);
        EnableWindow(GetDlgItem(hwnd(), IDC_SETLIST_NEXT), count > 0);
        char tail[8];
        std::snprintf(tail, sizeof tail, "%d", setlistTailSeconds());
        char shown[8] = "";
        GetDlgItemTextA(hwnd(), IDC_SETLIST_TAIL, shown, sizeof shown);
        if (std::strcmp(tail, shown) != 0)
            SetDlgItemTextA(hwnd(), IDC_SETLIST_TAIL, tail);
    }

    void command(int id, int code) {
        HWND frame = g_windows.frame;
        const int row = selectedRow();
        switch (id) {
        case IDC_SETLIST_LIST:
            if (code == LBN_SELCHANGE)
                syncControls();
            else if (code == LBN_DBLCLK && row >= 0)
                switchToSetlistEntry(frame, row);
            return;
        case IDC_SETLIST_PREVIOUS:
            stepSetlist(frame, -1);
            return;
        case IDC_SETLIST_NEXT:
            stepSetlist(frame, 1);
            return;
        case IDC_SETLIST_ADD: {
            const int added = addSetlistEntriesCommand(hwnd(), row);
            if (added >= 0)
                select(added);
            return;
        }
        case IDC_SETLIST_REMOVE:
            removeSetlistEntry(row);
            return;
        case IDC_SETLIST_UP:
        case IDC_SETLIST_DOWN: {
            const int moved = moveSetlistEntry(row, id == IDC_SETLIST_UP ? -1 : 1);
            if (moved >= 0)
                select(moved);
            return;
        }
        case IDC_SETLIST_AUTOPLAY:
            setSetlistEntryAutoplay(row, IsDlgButtonChecked(hwnd(), IDC_SETLIST_AUTOPLAY) == BST_CHECKED);
            return;
        case IDC_SETLIST_KEEP_CHANGES:
            setKeepChangesForShow(IsDlgButtonChecked(hwnd(), IDC_SETLIST_KEEP_CHANGES) == BST_CHECKED);
            return;
        case IDC_SETLIST_TAIL:
            if (code == EN_CHANGE) {
                char value[8] = "";
                GetDlgItemTextA(hwnd(), IDC_SETLIST_TAIL, value, sizeof value);
                if (value[0])
                    setSetlistTailSeconds(std::atoi(value));
            } else if (code == EN_KILLFOCUS) {
                syncControls();  // what was typed beyond 10 shows as the 10 in use
            }
            return;
        case IDC_SETLIST_NEW:
            newSetlist(frame);
            return;
        case IDC_SETLIST_OPEN:
            openSetlistCommand(frame);
            return;
        case IDC_SETLIST_SAVE:
        case IDC_SETLIST_SAVE_AS:
            saveSetlistCommand(frame, id == IDC_SETLIST_SAVE_AS);
            return;
        default:
            return;
        }
    }

    void paintDisplay(HDC dc) {
        RECT well = kDisplay;
        FillRect(dc, &well, wellBrush_);
        HPEN edge = CreatePen(PS_SOLID, 1, kKeyEdge);
        HGDIOBJ oldPen = SelectObject(dc, edge);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Rectangle(dc, well.left, well.top, well.right, well.bottom);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(edge);
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ oldFont = SelectObject(dc, labelFont_);
        SetTextColor(dc, kDim);
        RECT caption = {well.left + 10, well.top + 5, well.right - 10, well.top + 20};
        std::string file = setlistFilePath();
        const size_t slash = file.find_last_of("\\/");
        if (slash != std::string::npos)
            file.erase(0, slash + 1);
        if (setlistChanged())
            file += " *";
        std::string head = text(kStrSetlistCaption);
        for (char& c : head)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        DrawTextA(dc, head.c_str(), -1, &caption, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        DrawTextA(dc, file.c_str(), -1, &caption, DT_RIGHT | DT_SINGLELINE | DT_NOPREFIX | DT_PATH_ELLIPSIS);
        SelectObject(dc, bigFont_);
        RECT line = {well.left + 10, well.top + 22, well.right - 10, well.bottom - 4};
        if (display.empty()) {
            SelectObject(dc, labelFont_);
            SetTextColor(dc, kDim);
            const std::string hint = text(kStrSetlistEmpty);
            DrawTextA(dc, hint.c_str(), -1, &line, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        } else {
            SetTextColor(dc, kAmber);
            DrawTextA(dc, display.c_str(), -1, &line,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        }
        SelectObject(dc, oldFont);
    }

    void drawRow(const DRAWITEMSTRUCT& item) {
        HDC dc = item.hDC;
        RECT row = item.rcItem;
        const int index = int(item.itemID);
        const bool selected = (item.itemState & ODS_SELECTED) != 0;
        HBRUSH fill = CreateSolidBrush(selected ? kRowSelected : kWell);
        FillRect(dc, &row, fill);
        DeleteObject(fill);
        if (index < 0 || index >= setlistEntryCount())
            return;
        const SetlistEntryView entry = setlistEntryView(index);
        const bool onStage = index == currentSetlistEntry();
        if (onStage) {
            markedRow = index;
            // The on-stage mark: an amber arrow head in the row's margin.
            HBRUSH amber = CreateSolidBrush(kAmber);
            HPEN pen = CreatePen(PS_SOLID, 1, kAmber);
            HGDIOBJ oldBrush = SelectObject(dc, amber);
            HGDIOBJ oldPen = SelectObject(dc, pen);
            const int mid = (row.top + row.bottom) / 2;
            POINT arrow[3] = {{row.left + 5, mid - 5}, {row.left + 12, mid}, {row.left + 5, mid + 5}};
            Polygon(dc, arrow, 3);
            SelectObject(dc, oldBrush);
            SelectObject(dc, oldPen);
            DeleteObject(amber);
            DeleteObject(pen);
        }
        SetBkMode(dc, TRANSPARENT);
        HGDIOBJ oldFont = SelectObject(dc, rowFont_);
        char number[16];
        std::snprintf(number, sizeof number, "%d", index + 1);
        SetTextColor(dc, onStage ? kAmber : kDim);
        RECT numberRect = {row.left + 14, row.top, row.left + 40, row.bottom};
        DrawTextA(dc, number, -1, &numberRect, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
        SetTextColor(dc, entry.unusable ? kDim : (onStage ? kAmber : kLabel));
        RECT nameRect = {row.left + 48, row.top, row.right - 76, row.bottom};
        std::string name = entry.name + (entry.kept ? " *" : "");
        DrawTextA(dc, name.c_str(), -1, &nameRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
        SelectObject(dc, labelFont_);
        RECT tagRect = {row.right - 74, row.top, row.right - 6, row.bottom};
        if (entry.unusable) {
            SetTextColor(dc, kRed);
            // A file that is not there, or one that is there and does not open.
            std::string tag = text(entry.missing ? kStrSetlistNotFound : kStrSetlistDamagedTag);
            for (char& c : tag)
                c = char(std::toupper(static_cast<unsigned char>(c)));
            DrawTextA(dc, tag.c_str(), -1, &tagRect, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
        } else if (entry.autoplay) {
            SetTextColor(dc, kAmber);
            const std::string tag = text(kStrSetlistAutoTag);
            DrawTextA(dc, tag.c_str(), -1, &tagRect, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
        }
        SelectObject(dc, oldFont);
    }

    void drawKey(const DRAWITEMSTRUCT& item) {
        HDC dc = item.hDC;
        RECT face = item.rcItem;
        const bool pressed = (item.itemState & ODS_SELECTED) != 0;
        const bool disabled = (item.itemState & ODS_DISABLED) != 0;
        FillRect(dc, &face, panelBrush_);
        HBRUSH fill = CreateSolidBrush(pressed ? kWell : kKey);
        HPEN edge = CreatePen(PS_SOLID, 1, (item.itemState & ODS_FOCUS) ? kAmber : kKeyEdge);
        HGDIOBJ oldBrush = SelectObject(dc, fill);
        HGDIOBJ oldPen = SelectObject(dc, edge);
        RoundRect(dc, face.left, face.top, face.right, face.bottom, 6, 6);
        const COLORREF ink = disabled ? kDim : (item.CtlID == IDC_SETLIST_NEXT || item.CtlID == IDC_SETLIST_PREVIOUS
                                                     ? kAmber
                                                     : kLabel);
        HBRUSH inkBrush = CreateSolidBrush(ink);
        HPEN inkPen = CreatePen(PS_SOLID, 1, ink);
        SelectObject(dc, inkBrush);
        SelectObject(dc, inkPen);
        const int midX = (face.left + face.right) / 2, midY = (face.top + face.bottom) / 2;
        if (item.CtlID == IDC_SETLIST_UP || item.CtlID == IDC_SETLIST_DOWN) {
            const int d = item.CtlID == IDC_SETLIST_UP ? -1 : 1;
            POINT arrow[3] = {{midX - 7, midY - 4 * d}, {midX + 7, midY - 4 * d}, {midX, midY + 5 * d}};
            Polygon(dc, arrow, 3);
        } else if (item.CtlID == IDC_SETLIST_PREVIOUS || item.CtlID == IDC_SETLIST_NEXT) {
            const bool next = item.CtlID == IDC_SETLIST_NEXT;
            const int x = next ? face.right - 24 : face.left + 24;
            const int d = next ? 1 : -1;
            POINT arrow[3] = {{x - 6 * d, midY - 8}, {x - 6 * d, midY + 8}, {x + 6 * d, midY}};
            Polygon(dc, arrow, 3);
        }
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(fill);
        DeleteObject(edge);
        DeleteObject(inkBrush);
        DeleteObject(inkPen);
        char caption[64] = "";
        GetWindowTextA(item.hwndItem, caption, sizeof caption);
        if (caption[0]) {
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, ink);
            HGDIOBJ oldFont = SelectObject(dc, item.CtlID == IDC_SETLIST_NEXT || item.CtlID == IDC_SETLIST_PREVIOUS
                                                   ? bigFont_
                                                   : labelFont_);
            if (pressed)
                OffsetRect(&face, 1, 1);
            DrawTextA(dc, caption, -1, &face, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            SelectObject(dc, oldFont);
        }
    }

    HFONT labelFont_ = nullptr;
    HFONT rowFont_ = nullptr;
    HFONT bigFont_ = nullptr;
    HBRUSH panelBrush_ = nullptr;
    HBRUSH wellBrush_ = nullptr;
};

SetlistWindow* setlistOf(HWND window) { return Window::ofClass<SetlistWindow>(window, kSetlistClassName); }

}  // namespace

bool registerSetlistClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;  // the window fills its own background
    windowClass.lpszClassName = kSetlistClassName;
    return Window::registerClass<SetlistWindow>(windowClass);
}

HWND createSetlistWindow(HWND frame, HINSTANCE instance) {
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD extended = WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
    RECT outer = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&outer, style, FALSE, extended);
    const std::string caption = text(kStrSetlistCaption);
    g_setlistWindow = CreateWindowExA(extended, kSetlistClassName, caption.c_str(), style, CW_USEDEFAULT,
                                      CW_USEDEFAULT, outer.right - outer.left, outer.bottom - outer.top, frame,
                                      nullptr, instance, nullptr);
    return g_setlistWindow;
}

void showSetlistWindow() {
    if (!g_setlistWindow)
        return;
    refreshSetlistWindow();
    ShowWindow(g_setlistWindow, SW_SHOW);
    SetActiveWindow(g_setlistWindow);
}

void refreshSetlistWindow() {
    if (SetlistWindow* window = setlistOf(g_setlistWindow))
        window->refresh();
}

int setlistWindowMarkedRow() {
    const SetlistWindow* window = setlistOf(g_setlistWindow);
    return window ? window->markedRow : -1;
}

int setlistWindowSelectedRow() {
    const SetlistWindow* window = setlistOf(g_setlistWindow);
    return window ? window->selectedRow() : -1;
}

std::string setlistWindowDisplay() {
    const SetlistWindow* window = setlistOf(g_setlistWindow);
    return window ? window->display : std::string();
}
