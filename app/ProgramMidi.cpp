#include "ProgramMidi.h"

#include <new>

#include "EffectHost.h"
#include "FxManagerPanel.h"
#include "FxManagerWindow.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MidiControl.h"
#include "ParameterApplier.h"
#include "SettingsApplier.h"
#include "ShellState.h"
#include "SwitchPoint.h"

MidiControl* g_midiControl = nullptr;
SwitchPoint* g_switchPoint = nullptr;

namespace {

SettingsApplier* g_settingsApplier = nullptr;
ParameterApplier* g_parameterApplier = nullptr;
ProgramMidiHandler g_handler = nullptr;

bool slotSuspended(const EffectSlot* slot) { return __atomic_load_n(&slot->suspended, __ATOMIC_RELAXED) != 0; }

}  // namespace

bool createProgramMidi() {
    if (!g_liveEngine || !g_liveSettings || !g_effectHost)
        return false;
    g_midiControl = new (std::nothrow) MidiControl();
    g_settingsApplier = new (std::nothrow) SettingsApplier(*g_liveSettings, &slotSuspended);
    g_parameterApplier = new (std::nothrow) ParameterApplier(*g_liveSettings);
    g_switchPoint = new (std::nothrow) SwitchPoint(g_effectHost);
    if (!g_midiControl || !g_settingsApplier || !g_parameterApplier || !g_switchPoint)
        return false;
    g_midiControl->attachAppliers(g_settingsApplier, g_parameterApplier);
    g_liveEngine->attachMidi(g_midiControl);
    g_liveEngine->attachSwitch(g_switchPoint);
    return true;
}

// After the engine: no callback reaches them any more.
void deleteProgramMidi() {
    delete g_switchPoint;
    g_switchPoint = nullptr;
    delete g_midiControl;
    g_midiControl = nullptr;
    delete g_settingsApplier;
    g_settingsApplier = nullptr;
    delete g_parameterApplier;
    g_parameterApplier = nullptr;
}

void setProgramMidiHandler(ProgramMidiHandler handler) { g_handler = handler; }

void serviceProgramMidi() {
    if (!g_midiControl || !g_liveSettings || !g_effectHost)
        return;
    bool moved = false;
    ControlEvent event;
    while (g_midiControl->takeEvent(event)) {
        switch (event.kind) {
        case ControlEventKind::Applied:
            moved = true;
            break;
        case ControlEventKind::Deferred:
            if (targetGroup(event.target) == TargetGroup::PluginParameter) {
                ParameterApplier::setDeferred(*g_effectHost, *g_liveSettings, event.target, event.value);
            } else if (targetGroup(event.target) == TargetGroup::Bypass) {
                const int position = targetPosition(event.target);
                if ((g_liveSettings->bypass[position] != 0) != (event.value >= 0.5f))
                    g_liveSettings->toggleBypass(position);
            }
            moved = true;
            break;
        case ControlEventKind::Command:
        case ControlEventKind::UnboundProgram:
            if (g_handler)
                g_handler(event);
            break;
        }
    }
    g_midiControl->eventsHandled();
    if (moved)
        if (HWND panel = fxManagerPanel())
            refreshFxManagerPanel(panel);
}
