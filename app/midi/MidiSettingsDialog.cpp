#include "MidiSettingsDialog.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>

#include "DialogPlacement.h"
#include "MessageBoxes.h"
#include "MidiIds.h"
#include "MidiInputDevices.h"
#include "ShellState.h"
#include "StringIds.h"

namespace {

constexpr size_t kMaxRows = 64;
using Name = char[MidiInputDevices::kNameSize];

// The rows as the dialog was opened, by their place in the list.
struct Rows {
    Name names[kMaxRows];
    size_t count = 0;
};

void addColumn(HWND list, int index, int stringId, int width) {
    char title[64] = "";
    loadStringText(stringId, title, sizeof title);
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title;
    column.cx = width;
    SendMessageA(list, LVM_INSERTCOLUMNA, WPARAM(index), reinterpret_cast<LPARAM>(&column));
}

int stateStringOf(const MidiInputDevices& devices, const char* name, bool present) {
    for (size_t i = 0; i < devices.chosenCount(); ++i) {
        if (std::strcmp(devices.chosenName(i), name) != 0)
            continue;
        switch (devices.chosenState(i)) {
        case MidiInputDevices::State::Open: return kStrMidiStateOpen;
        case MidiInputDevices::State::OpenFailed: return kStrMidiStateFailed;
        case MidiInputDevices::State::NotConnected: return present ? kStrMidiStateFailed : kStrMidiStateMissing;
        }
    }
    return 0;
}

void addRow(HWND list, Rows& rows, const char* name, bool present, MidiInputDevices& devices) {
    if (rows.count >= kMaxRows)
        return;
    std::memcpy(rows.names[rows.count], name, sizeof(Name));
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = int(rows.count);
    item.pszText = rows.names[rows.count];
    item.lParam = LPARAM(rows.count);
    const int index = int(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    char state[64] = "";
    if (const int id = stateStringOf(devices, name, present))
        loadStringText(id, state, sizeof state);
    LVITEMA sub{};
    sub.iSubItem = 1;
    sub.pszText = state;
    SendMessageA(list, LVM_SETITEMTEXTA, WPARAM(index), reinterpret_cast<LPARAM>(&sub));
    ListView_SetCheckState(list, index, devices.isChosen(name));
    ++rows.count;
}

void fill(HWND dialog, Rows& rows) {
    MidiInputDevices& devices = *g_midiInputs;
    HWND list = GetDlgItem(dialog, IDC_MIDI_DEVICE_LIST);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    addColumn(list, 0, kStrMidiColumnDevice, 236);
    addColumn(list, 1, kStrMidiColumnState, 130);
    static Name present[kMaxRows];
    const size_t presentCount = devices.listPresent(present, kMaxRows);
    for (size_t d = 0; d < presentCount; ++d)
        if (present[d][0])
            addRow(list, rows, present[d], true, devices);
    // The chosen devices that are not connected stay chosen until unticked here.
    for (size_t c = 0; c < devices.chosenCount(); ++c) {
        bool listed = false;
        for (size_t r = 0; r < rows.count && !listed; ++r)
            listed = std::strcmp(rows.names[r], devices.chosenName(c)) == 0;
        if (!listed)
            addRow(list, rows, devices.chosenName(c), false, devices);
    }
    char note[256] = "";
    loadStringText(rows.count == 0 ? kStrMidiNoDevices : kStrMidiDevicesNote, note, sizeof note);
    SetDlgItemTextA(dialog, IDC_MIDI_DEVICE_NOTE, note);
}

void apply(HWND dialog, const Rows& rows) {
    HWND list = GetDlgItem(dialog, IDC_MIDI_DEVICE_LIST);
    const char* chosen[kMaxRows];
    size_t count = 0;
    for (size_t r = 0; r < rows.count; ++r)
        if (ListView_GetCheckState(list, int(r)))
            chosen[count++] = rows.names[r];
    char failed[MidiInputDevices::kMaxChosen * (MidiInputDevices::kNameSize + 48)];
    g_midiInputs->choose(chosen, count, failed, sizeof failed);
    g_midiInputs->saveChoice();
    if (failed[0])
        showErrorWithDetail(kStrMidiDevicesOpenFailed, failed);
    if (count > MidiInputDevices::kMaxChosen) {
        char detail[64];
        std::snprintf(detail, sizeof detail, "%u", unsigned(MidiInputDevices::kMaxChosen));
        showErrorWithDetail(kStrMidiTooManyDevices, detail);
    }
}

INT_PTR CALLBACK midiSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Rows* rows = reinterpret_cast<Rows*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreOnOwner(dialog);
        fill(dialog, *reinterpret_cast<Rows*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && rows) {
            apply(dialog, *rows);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void runMidiSettingsDialog(HWND owner) {
    if (!g_midiInputs)
        return;
    static Rows rows;  // a modal dialog: one at a time
    rows.count = 0;
    DialogBoxParamA(g_windows.instance, MAKEINTRESOURCEA(IDD_MIDI_SETTINGS), owner, midiSettingsProc,
                    reinterpret_cast<LPARAM>(&rows));
}
