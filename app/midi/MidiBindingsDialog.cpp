#include "MidiBindingsDialog.h"

#include <commctrl.h>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ControlTargets.h"
#include "DialogPlacement.h"
#include "EffectSlot.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "MidiControl.h"
#include "MidiIds.h"
#include "MidiLearn.h"
#include "ProgramMidi.h"
#include "ShellState.h"
#include "StringIds.h"

namespace {

constexpr UINT_PTR kRefreshTimer = 1;

// One row: a binding of the program's list or of the performance's.
struct Row {
    bool performance;
    size_t index;
};

struct DialogState {
    std::vector<Row> rows;
    size_t shownProgram = size_t(-1), shownPerformance = size_t(-1);
    uint32_t shownLearning = kNoTarget;
    std::vector<MidiBinding> lastProgram, lastPerformance;
};

const MidiBinding& bindingOf(const Row& row) {
    return row.performance ? g_midiControl->performanceBindings()[row.index] : g_midiControl->programBindings()[row.index];
}

void text(int id, char* out, size_t size) {
    out[0] = '\0';
    loadStringText(id, out, int(size));
}

void describeSource(const MidiSource& source, char* out, size_t size) {
    char format[32];
    text(source.kind == MidiSourceKind::Controller ? kStrMidiSourceController
                                                    : (source.kind == MidiSourceKind::Note ? kStrMidiSourceNote
                                                                                           : kStrMidiSourceProgram),
         format, sizeof format);
    std::snprintf(out, size, format, int(source.number));
}

void describeChannel(int8_t channel, char* out, size_t size) {
    if (channel == kAnyChannel)
        text(kStrMidiChannelAny, out, size);
    else
        std::snprintf(out, size, "%d", int(channel) + 1);
}

int behaviourString(BindingBehaviour behaviour) {
    return behaviour == BindingBehaviour::Continuous ? kStrMidiBehaviourContinuous
                                                     : (behaviour == BindingBehaviour::Toggle ? kStrMidiBehaviourToggle
                                                                                              : kStrMidiBehaviourMomentary);
}

// A plug-in parameter's target names the plug-in and its parameter while they are
// loaded; otherwise it says the binding waits for a plug-in that is not there.
void describeTarget(uint32_t target, char* out, size_t size) {
    targetName(target, out, size);
    if (targetGroup(target) != TargetGroup::PluginParameter || !g_liveSettings)
        return;
    const EffectSlot* slot = g_liveSettings->slots[targetPosition(target)];
    if (!slot || targetParameterIndex(target) >= slot->parameterCount) {
        char note[64];
        text(kStrMidiTargetNotLoaded, note, sizeof note);
        const size_t used = std::strlen(out);
        std::snprintf(out + used, size - used, " %s", note);
    }
}

void addColumn(HWND list, int index, int stringId, int width) {
    char title[64];
    text(stringId, title, sizeof title);
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = title;
    column.cx = width;
    SendMessageA(list, LVM_INSERTCOLUMNA, WPARAM(index), reinterpret_cast<LPARAM>(&column));
}

void setCell(HWND list, int row, int column, const char* value) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(value);
    SendMessageA(list, LVM_SETITEMTEXTA, WPARAM(row), reinterpret_cast<LPARAM>(&item));
}

int selectedRow(HWND dialog) {
    return int(SendDlgItemMessageA(dialog, IDC_MIDI_BINDINGS_LIST, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
}

void showSelection(HWND dialog, DialogState& state) {
    const int row = selectedRow(dialog);
    const bool any = row >= 0 && size_t(row) < state.rows.size();
    EnableWindow(GetDlgItem(dialog, IDC_MIDI_BINDINGS_REMOVE), any);
    EnableWindow(GetDlgItem(dialog, IDC_MIDI_BINDINGS_CHANNEL), any);
    EnableWindow(GetDlgItem(dialog, IDC_MIDI_BINDINGS_BEHAVIOUR), any);
    if (!any)
        return;
    const MidiBinding& binding = bindingOf(state.rows[size_t(row)]);
    SendDlgItemMessageA(dialog, IDC_MIDI_BINDINGS_CHANNEL, CB_SETCURSEL,
                        WPARAM(binding.source.channel == kAnyChannel ? 0 : binding.source.channel + 1), 0);
    SendDlgItemMessageA(dialog, IDC_MIDI_BINDINGS_BEHAVIOUR, CB_SETCURSEL, WPARAM(binding.behaviour), 0);
}

void fillList(HWND dialog, DialogState& state) {
    HWND list = GetDlgItem(dialog, IDC_MIDI_BINDINGS_LIST);
    const int selected = selectedRow(dialog);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    state.rows.clear();
    for (int pass = 0; pass < 2; ++pass) {
        const std::vector<MidiBinding>& bindings =
            pass == 0 ? g_midiControl->programBindings() : g_midiControl->performanceBindings();
        for (size_t i = 0; i < bindings.size(); ++i)
            state.rows.push_back(Row{pass == 1, i});
    }
    for (size_t r = 0; r < state.rows.size(); ++r) {
        const MidiBinding& binding = bindingOf(state.rows[r]);
        char cell[160];
        describeSource(binding.source, cell, sizeof cell);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = int(r);
        item.pszText = cell;
        const int index = int(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        describeChannel(binding.source.channel, cell, sizeof cell);
        setCell(list, index, 1, cell);
        describeTarget(binding.target, cell, sizeof cell);
        setCell(list, index, 2, cell);
        text(behaviourString(binding.behaviour), cell, sizeof cell);
        setCell(list, index, 3, cell);
    }
    if (selected >= 0 && size_t(selected) < state.rows.size()) {
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, WPARAM(selected), reinterpret_cast<LPARAM>(&item));
    }
    state.lastProgram = g_midiControl->programBindings();
    state.lastPerformance = g_midiControl->performanceBindings();
    showSelection(dialog, state);
}

bool sameBindings(const std::vector<MidiBinding>& a, const std::vector<MidiBinding>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof a[i]) != 0)
            return false;
    return true;
}

void showStatus(HWND dialog, DialogState& state) {
    const uint32_t learning = midiLearnTarget();
    char status[256] = "";
    if (learning != kNoTarget) {
        char format[160], name[96];
        text(kStrMidiLearning, format, sizeof format);
        describeTarget(learning, name, sizeof name);
        std::snprintf(status, sizeof status, format, name);
    }
    SetDlgItemTextA(dialog, IDC_MIDI_BINDINGS_STATUS, status);
    state.shownLearning = learning;
}

// The target the chooser names: its entry's target, with the setlist entry's number.
uint32_t chosenTarget(HWND dialog) {
    const LRESULT index = SendDlgItemMessageA(dialog, IDC_MIDI_BINDINGS_TARGET, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return kNoTarget;
    const uint32_t target = uint32_t(SendDlgItemMessageA(dialog, IDC_MIDI_BINDINGS_TARGET, CB_GETITEMDATA, WPARAM(index), 0));
    if (targetGroup(target) == TargetGroup::Command && ProgramCommand(targetItem(target)) == ProgramCommand::SetlistEntry) {
        BOOL read = FALSE;
        const UINT entry = GetDlgItemInt(dialog, IDC_MIDI_BINDINGS_ENTRY, &read, FALSE);
        return setlistEntryTarget(read && entry >= 1 && entry <= 1000 ? int(entry) - 1 : 0);
    }
    return target;
}

void fillChoosers(HWND dialog) {
    HWND targets = GetDlgItem(dialog, IDC_MIDI_BINDINGS_TARGET);
    for (size_t i = 0; i < programTargetCount(); ++i) {
        const uint32_t target = programTargetAt(i);
        char name[96];
        targetName(target, name, sizeof name);
        if (targetGroup(target) == TargetGroup::Command && ProgramCommand(targetItem(target)) == ProgramCommand::SetlistEntry)
            text(kStrMidiSetlistEntryChoice, name, sizeof name);
        const LRESULT index = SendMessageA(targets, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SendMessageA(targets, CB_SETITEMDATA, WPARAM(index), LPARAM(target));
    }
    SendMessageA(targets, CB_SETCURSEL, 0, 0);
    SetDlgItemInt(dialog, IDC_MIDI_BINDINGS_ENTRY, 1, FALSE);
    HWND channels = GetDlgItem(dialog, IDC_MIDI_BINDINGS_CHANNEL);
    char any[32];
    text(kStrMidiChannelAny, any, sizeof any);
    SendMessageA(channels, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(any));
    for (int c = 1; c <= 16; ++c) {
        char number[8];
        std::snprintf(number, sizeof number, "%d", c);
        SendMessageA(channels, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(number));
    }
    HWND behaviours = GetDlgItem(dialog, IDC_MIDI_BINDINGS_BEHAVIOUR);
    for (BindingBehaviour b : {BindingBehaviour::Continuous, BindingBehaviour::Toggle, BindingBehaviour::Momentary}) {
        char name[32];
        text(behaviourString(b), name, sizeof name);
        SendMessageA(behaviours, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    }
}

// The selected binding changed (channel or behaviour) or removed; a change the
// bindings refuse (a continuous note, a momentary program change, a duplicate) is
// told and not made.
void editSelected(HWND dialog, DialogState& state, bool remove) {
    const int row = selectedRow(dialog);
    if (row < 0 || size_t(row) >= state.rows.size())
        return;
    const Row which = state.rows[size_t(row)];
    std::vector<MidiBinding> bindings =
        which.performance ? g_midiControl->performanceBindings() : g_midiControl->programBindings();
    if (remove) {
        bindings.erase(bindings.begin() + long(which.index));
    } else {
        MidiBinding& binding = bindings[which.index];
        const LRESULT channel = SendDlgItemMessageA(dialog, IDC_MIDI_BINDINGS_CHANNEL, CB_GETCURSEL, 0, 0);
        const LRESULT behaviour = SendDlgItemMessageA(dialog, IDC_MIDI_BINDINGS_BEHAVIOUR, CB_GETCURSEL, 0, 0);
        if (channel == CB_ERR || behaviour == CB_ERR)
            return;
        binding.source.channel = channel == 0 ? kAnyChannel : int8_t(channel - 1);
        binding.behaviour = BindingBehaviour(behaviour);
        MidiBindingTable check;
        BindingRefusal refusal = BindingRefusal::None;
        for (const MidiBinding& b : bindings)
            if (refusal == BindingRefusal::None)
                refusal = check.add(b);
        const TargetBehaviourKind kind = targetBehaviourKind(binding.target);
        const bool fits = (kind == TargetBehaviourKind::Continuous) == (binding.behaviour == BindingBehaviour::Continuous);
        if (refusal != BindingRefusal::None || !fits) {
            char why[256] = "";
            if (refusal != BindingRefusal::None)
                loadStringText(kStrBindingsFirstRefusal + int(refusal) - 1, why, sizeof why);
            else
                loadStringText(kStrMidiBehaviourUnfit, why, sizeof why);
            showErrorWithDetail(kStrMidiBindingRefused, why);
            showSelection(dialog, state);
            return;
        }
    }
    if (which.performance)
        g_midiControl->setPerformanceBindings(bindings);
    else
        replaceProgramBindings(bindings);
    fillList(dialog, state);
}

INT_PTR CALLBACK bindingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogState* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        state = reinterpret_cast<DialogState*>(lParam);
        centreOnOwner(dialog);
        HWND list = GetDlgItem(dialog, IDC_MIDI_BINDINGS_LIST);
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
        addColumn(list, 0, kStrMidiColumnSource, 90);
        addColumn(list, 1, kStrMidiColumnChannel, 60);
        addColumn(list, 2, kStrMidiColumnTarget, 200);
        addColumn(list, 3, kStrMidiColumnBehaviour, 90);
        fillChoosers(dialog);
        fillList(dialog, *state);
        showStatus(dialog, *state);
        SetTimer(dialog, kRefreshTimer, 100, nullptr);
        return TRUE;
    }
    case WM_TIMER:
        // A learn finishes in the frame's timer; the list follows it, and any other change.
        if (state && wParam == kRefreshTimer) {
            if (!sameBindings(state->lastProgram, g_midiControl->programBindings()) ||
                !sameBindings(state->lastPerformance, g_midiControl->performanceBindings()))
                fillList(dialog, *state);
            if (state->shownLearning != midiLearnTarget())
                showStatus(dialog, *state);
        }
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (state && header->idFrom == IDC_MIDI_BINDINGS_LIST && header->code == LVN_ITEMCHANGED)
            showSelection(dialog, *state);
        return FALSE;
    }
    case WM_COMMAND:
        if (!state)
            return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_MIDI_BINDINGS_LEARN:
            if (const uint32_t target = chosenTarget(dialog))
                startMidiLearn(target);
            showStatus(dialog, *state);
            return TRUE;
        case IDC_MIDI_BINDINGS_REMOVE:
            editSelected(dialog, *state, true);
            return TRUE;
        case IDC_MIDI_BINDINGS_CHANNEL:
        case IDC_MIDI_BINDINGS_BEHAVIOUR:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                editSelected(dialog, *state, false);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            KillTimer(dialog, kRefreshTimer);
            EndDialog(dialog, IDOK);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        KillTimer(dialog, kRefreshTimer);
        EndDialog(dialog, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void runMidiBindingsDialog(HWND owner) {
    if (!g_midiControl)
        return;
    DialogState state;
    DialogBoxParamA(g_windows.instance, MAKEINTRESOURCEA(IDD_MIDI_BINDINGS), owner, bindingsProc,
                    reinterpret_cast<LPARAM>(&state));
}
