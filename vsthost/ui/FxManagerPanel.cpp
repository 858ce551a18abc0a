#include "FxManagerPanel.h"

#include <cstdio>

#include "Controls.h"
#include "EffectHost.h"
#include "FailedPlugins.h"
#include "EffectIds.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "ResourceIds.h"
#include "SharedResources.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"

namespace {

const int kPositions = LiveSettings::kPositions;
const char kNoEffect[] = "<no effect>";

struct PanelState {
    const FxManagerContext* context;
    int32_t current;
    int32_t described;  // the position the information line tells of
};

PanelState* stateOf(HWND panel) {
    return reinterpret_cast<PanelState*>(GetWindowLongPtrA(panel, DWLP_USER));
}

// Where the faceplate picture has room for each control.
struct Placement {
    int id;
    int x, y;
    int width, height;  // 0: the control keeps its own size
};
const Placement kPlacements[] = {
    {IDC_FX_INGAIN_KNOB, 20, 35, 0, 0},        {IDC_FX_INGAIN_TEXT, 53, 45, 41, 14},
    {IDC_FX_OUTGAIN_KNOB, 20, 67, 0, 0},       {IDC_FX_OUTGAIN_TEXT, 53, 74, 41, 14},
    {IDC_FX_GATE_ATTACK_KNOB, 20, 134, 0, 0},  {IDC_FX_GATE_ATTACK_TEXT, 54, 145, 41, 14},
    {IDC_FX_GATE_RELEASE_KNOB, 20, 166, 0, 0}, {IDC_FX_GATE_RELEASE_TEXT, 54, 174, 41, 14},
    {IDC_FX_GATE_THRESH_KNOB, 20, 197, 0, 0},  {IDC_FX_GATE_THRESH_TEXT, 54, 203, 41, 14},
    {IDC_FX_DC_FILTER_SWITCH, 345, 8, 0, 0},
};

void place(HWND panel, int id, int x, int y, int width, int height) {
    HWND control = GetDlgItem(panel, id);
    if (!control)
        return;
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (width == 0)
        flags |= SWP_NOSIZE;
    SetWindowPos(control, nullptr, x, y, width, height, flags);
}

void placeControls(HWND panel) {
    for (const Placement& p : kPlacements)
        place(panel, p.id, p.x, p.y, p.width, p.height);
    for (int r = 0; r < kPositions; ++r) {
        place(panel, IDC_FX_FIRST_NAME + r, 282, 71 + 22 * r, 185, 17);
        place(panel, IDC_FX_FIRST_BYPASS_SWITCH + r, 490, 73 + 22 * r, 0, 0);
    }
    place(panel, IDC_FX_POSITION_INFO, 250, 247, 370, 12);
}

void setControl(HWND panel, int id, LPARAM value) {
    SendDlgItemMessageA(panel, id, kSetControlValue, 0, value);
}

void setText(HWND panel, int id, const char* text) {
    setControl(panel, id, reinterpret_cast<LPARAM>(text));
}

Relaxed<float>* knobSetting(LiveSettings& settings, int id) {
    switch (id) {
    case IDC_FX_OUTGAIN_KNOB: return &settings.outgain;
    case IDC_FX_INGAIN_KNOB: return &settings.ingain;
    case IDC_FX_GATE_ATTACK_KNOB: return &settings.gateAttack;
    case IDC_FX_GATE_RELEASE_KNOB: return &settings.gateRelease;
    case IDC_FX_GATE_THRESH_KNOB: return &settings.gateThresh;
    default: return nullptr;
    }
}

void positionName(const FxManagerContext& context, int32_t position, char* name) {
    EffectSlot* slot = context.settings->slots[position];
    char read[64] = "";
    if (slot && context.host->effectName(slot, read) && read[0])
        std::snprintf(name, 32, "%s", read);
    else
        std::snprintf(name, 32, "%s", kNoEffect);
}

// "3 Modulane by Talvenor, VST 2, 2.7 ms": what the name box has no room for.
void describePosition(const FxManagerContext& context, int32_t position, char* text, size_t size) {
    EffectSlot* slot = context.settings->slots[position];
    char name[32];
    positionName(context, position, name);
    int used = std::snprintf(text, size, "%d  %s", int(position) + 1, name);
    if (!slot || used < 0 || size_t(used) >= size)
        return;
    const char* vendor = context.host->vendorOf(slot);
    if (vendor[0])
        used += std::snprintf(text + used, size - size_t(used), " by %s", vendor);
    if (size_t(used) < size)
        used += std::snprintf(text + used, size - size_t(used), ", %s", context.host->formatOf(slot));
    const double rate = double(context.host->sampleRate());
    if (slot->latency > 0 && rate > 0.0 && size_t(used) < size)
        used += std::snprintf(text + used, size - size_t(used), ", %.1f ms", 1000.0 * slot->latency / rate);
    if (!slot->ownProcess || size_t(used) >= size)
        return;
    char before[32];
    if (slot->plugin->failed(nullptr, 0))
        std::snprintf(text + used, size - size_t(used), "%s", ", failed in its own process");
    else if (failedBefore(slot->path, before, sizeof before))
        std::snprintf(text + used, size - size_t(used), ", own process (%s once)", before[0] ? before : "failed");
    else
        std::snprintf(text + used, size - size_t(used), "%s", ", own process");
}

void showPositionInfo(HWND panel, PanelState& state) {
    char text[100];
    describePosition(*state.context, state.described, text, sizeof text);
    setText(panel, IDC_FX_POSITION_INFO, text);
}

void refresh(HWND panel) {
    PanelState* state = stateOf(panel);
    if (!state)
        return;
    const FxManagerContext& context = *state->context;
    LiveSettings& settings = *context.settings;
    for (int id = IDC_FX_OUTGAIN_KNOB; id <= IDC_FX_GATE_THRESH_KNOB; ++id)
        setControl(panel, id, LPARAM(int(float(*knobSetting(settings, id)) * 1000)));
    setControl(panel, IDC_FX_DC_FILTER_SWITCH, settings.centerAmp);
    for (int r = 0; r < kPositions; ++r)
        setControl(panel, IDC_FX_FIRST_BYPASS_SWITCH + r, settings.bypass[r] == 0 ? 1 : 0);
    for (int r = 0; r < kPositions; ++r) {
        char name[32];
        positionName(context, r, name);
        setText(panel, IDC_FX_FIRST_NAME + r, name);
        const EffectSlot* slot = settings.slots[r];
        const bool failed = slot && slot->plugin && slot->plugin->failed(nullptr, 0);
        SendDlgItemMessageA(panel, IDC_FX_FIRST_NAME + r, kSetControlValue, kStaticTag,
                            reinterpret_cast<LPARAM>(failed ? "FAILED" : context.host->formatOf(slot)));
    }
    showPositionInfo(panel, *state);
    char text[32];
    formatGateTimeText(settings.gateAttack, text);
    setText(panel, IDC_FX_GATE_ATTACK_TEXT, text);
    formatGateTimeText(settings.gateRelease, text);
    setText(panel, IDC_FX_GATE_RELEASE_TEXT, text);
    formatGateThresholdText(settings.gateThresh, text);
    setText(panel, IDC_FX_GATE_THRESH_TEXT, text);
    formatGainText(settings.ingain, text);
    setText(panel, IDC_FX_INGAIN_TEXT, text);
    formatGainText(settings.outgain, text);
    setText(panel, IDC_FX_OUTGAIN_TEXT, text);
}

// An empty position has no editor: nothing happens and nothing is said.
void openEditorOf(const FxManagerContext& context, int32_t position) {
    if (!context.settings->slots[position])
        return;
    // A plug-in whose process failed as its editor opened is told of by the timer, once.
    if ((!context.openEditor || !context.openEditor(position)) && !context.settings->slots[position]->plugin->failed(nullptr, 0))
        showError(kStrOpenEditorFailed);
}

void selectInto(HWND panel, PanelState& state) {
    const FxManagerContext& context = *state.context;
    const int32_t selection = context.selectPlugin ? context.selectPlugin(panel) : 0;
    if (selection != 0) {
        const int32_t entry = (selection < 0 ? -selection : selection) - 1;
        if (!context.settings->loadIntoPosition(state.current, entry))
            showError(kStrLoadPluginFailed);
    }
    refresh(panel);
}

// The position's plug-in loaded again with its state: moved into its own process or
// back into this one, or (restart) a failed one in a new process of its own.
void runElsewhere(HWND panel, PanelState& state, bool restart) {
    LiveSettings& settings = *state.context->settings;
    EffectSlot* slot = state.current >= 0 && state.current < kPositions ? settings.slots[state.current] : nullptr;
    if (!slot)
        return;
    EffectHost& host = *state.context->host;
    EffectSlot* fresh = host.reloadSlot(slot, restart || !slot->ownProcess);
    if (!fresh) {
        showErrorWithDetail(kStrLoadPluginFailed, host.lastLoadFailure());
        return;
    }
    // Moved back into this process by the user's choice: a failure it had is no
    // longer held against it.
    if (!fresh->ownProcess)
        forgetFailure(fresh->path);
    settings.replacePosition(state.current, fresh);
    refresh(panel);
}

void runMenuCommand(HWND panel, PanelState& state, int command) {
    LiveSettings& settings = *state.context->settings;
    switch (command) {
    case IDC_CMD_SELECT_EFFECT:
        selectInto(panel, state);
        break;
    case IDC_CMD_UNLOAD_EFFECT:
        settings.unloadPosition(state.current);
        refresh(panel);
        break;
    case IDC_CMD_EDIT_EFFECT:
        openEditorOf(*state.context, state.current);
        break;
    case IDC_CMD_MOVE_EFFECT_UP:
        settings.moveUp(state.current);
        refresh(panel);
        break;
    case IDC_CMD_MOVE_EFFECT_DOWN:
        settings.moveDown(state.current);
        refresh(panel);
        break;
    case IDC_CMD_OWN_PROCESS:
    case IDC_CMD_RESTART_EFFECT:
        runElsewhere(panel, state, command == IDC_CMD_RESTART_EFFECT);
        break;
    default:
        break;
    }
}

void onControl(HWND panel, PanelState& state, int id, LPARAM value) {
    LiveSettings& settings = *state.context->settings;
    if (Relaxed<float>* setting = knobSetting(settings, id)) {
        *setting = float(int32_t(value) * 0.001);
        refresh(panel);
    } else if (id == IDC_FX_DC_FILTER_SWITCH) {
        settings.centerAmp = uint8_t(value != 0 ? 1 : 0);
    } else if (id >= IDC_FX_FIRST_BYPASS_SWITCH && id < IDC_FX_FIRST_BYPASS_SWITCH + kPositions) {
        settings.toggleBypass(id - IDC_FX_FIRST_BYPASS_SWITCH);
    } else if (id >= IDC_FX_FIRST_NAME && id < IDC_FX_FIRST_NAME + kPositions) {
        const int32_t position = id - IDC_FX_FIRST_NAME;
        if (value == kStaticHovered) {
            if (state.described != position) {
                state.described = position;
                showPositionInfo(panel, state);
            }
        } else if (value != 0) {
            // A double-click on a name chooses the effect for that position.
            state.current = position;
            SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_CMD_SELECT_EFFECT, 0), 0);
        } else {
            openEditorOf(*state.context, position);
        }
    } else {
        runMenuCommand(panel, state, id);
    }
}

// The small buttons painted left of the names open the position's menu.
int32_t menuButtonAt(int x, int y) {
    if (x <= 250 || x >= 267)
        return -1;
    for (int r = 0; r < kPositions; ++r)
        if (67 + 23 * r < y && y < 84 + 23 * r)
            return r;
    return -1;
}

void openPositionMenu(HWND panel, PanelState& state, int32_t position) {
    const FxManagerContext& context = *state.context;
    state.current = position;
    if (!context.positionMenu)
        return;
    preparePositionMenu(context.positionMenu, *context.settings, position);
    POINT cursor;
    GetCursorPos(&cursor);
    TrackPopupMenu(context.positionMenu, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, panel, nullptr);
}

INT_PTR CALLBACK panelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
    PanelState* state = stateOf(panel);
    switch (message) {
    case WM_INITDIALOG: {
        auto* created = new PanelState{reinterpret_cast<const FxManagerContext*>(lParam), 0, 0};
        SetWindowLongPtrA(panel, DWLP_USER, reinterpret_cast<LONG_PTR>(created));
        placeControls(panel);
        refresh(panel);
        return FALSE;
    }
    case WM_ERASEBKGND: {
        RECT client;
        GetClientRect(panel, &client);
        if (HBRUSH face = sharedResources().panelBrush)
            FillRect(reinterpret_cast<HDC>(wParam), &client, face);
        SetWindowLongPtrA(panel, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    case WM_COMMAND:
        if (state)
            onControl(panel, *state, LOWORD(wParam), lParam);
        return TRUE;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: {
        const int32_t position = menuButtonAt(short(LOWORD(lParam)), short(HIWORD(lParam)));
        if (state && position >= 0)
            openPositionMenu(panel, *state, position);
        return TRUE;
    }
    case WM_CONTEXTMENU: {
        HWND control = reinterpret_cast<HWND>(wParam);
        if (!state || !state->context->controlMenu || !control || control == panel)
            return FALSE;
        int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
        if (x == -1 && y == -1) {  // from the keyboard: at the control
            RECT rect;
            GetWindowRect(control, &rect);
            x = rect.left;
            y = rect.bottom;
        }
        state->context->controlMenu(panel, GetDlgCtrlID(control), x, y);
        return TRUE;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrA(panel, DWLP_USER, 0);
        delete state;
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

HWND createFxManagerPanel(HINSTANCE instance, HWND parent, const FxManagerContext* context) {
    HWND panel = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_FX_MANAGER), parent, panelProc,
                                    reinterpret_cast<LPARAM>(context));
    if (!panel)
        return nullptr;
    RECT client;
    GetClientRect(parent, &client);
    SetWindowPos(panel, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(panel, SW_SHOW);
    return panel;
}

void refreshFxManagerPanel(HWND panel) {
    refresh(panel);
}

int32_t fxManagerCurrentPosition(HWND panel) {
    const PanelState* state = stateOf(panel);
    return state ? state->current : -1;
}

void preparePositionMenu(HMENU menu, const LiveSettings& settings, int32_t position) {
    const bool occupied = settings.slots[position] != nullptr;
    const auto enable = [menu](UINT command, bool enabled) {
        EnableMenuItem(menu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    };
    enable(IDC_CMD_SELECT_EFFECT, true);
    enable(IDC_CMD_UNLOAD_EFFECT, occupied);
    enable(IDC_CMD_EDIT_EFFECT, occupied);
    enable(IDC_CMD_MOVE_EFFECT_UP, occupied && position > 0);
    enable(IDC_CMD_MOVE_EFFECT_DOWN, occupied && position < kPositions - 1);
    const EffectSlot* slot = settings.slots[position];
    const bool failed = slot && slot->plugin && slot->plugin->failed(nullptr, 0);
    enable(IDC_CMD_OWN_PROCESS, occupied && !failed);
    CheckMenuItem(menu, IDC_CMD_OWN_PROCESS, MF_BYCOMMAND | (slot && slot->ownProcess ? MF_CHECKED : MF_UNCHECKED));
    enable(IDC_CMD_RESTART_EFFECT, failed);
}

void formatGainText(float value, char* text) {
    std::snprintf(text, 16, "%.2f", double(value) * 80.0 - 60.0);
}

void formatGateTimeText(float value, char* text) {
    std::snprintf(text, 16, "%.1f", double(value) * 495.0 + 5.0);
}

void formatGateThresholdText(float value, char* text) {
    const double decibels = (1.0 - double(value) * 0.9) * -60.0;
    if (decibels > -59.999)
        std::snprintf(text, 16, "%.2f", decibels);
    else
        std::snprintf(text, 16, "off");
}
