#include "MidiLearn.h"

#include <cstring>
#include <vector>

#include "ControlTargets.h"
#include "EditorWindow.h"
#include "EffectIds.h"
#include "EffectSlot.h"
#include "LiveSettings.h"
#include "ShellState.h"
#include "MessageBoxes.h"
#include "MidiControl.h"
#include "MidiIds.h"
#include "ProgramMidi.h"
#include "RegistryKeys.h"
#include "StringIds.h"

namespace {

const char kBindingsValue[] = "szMidiBindings";
constexpr size_t kMaxText = 64 * 1024;

uint32_t g_learning = kNoTarget;
uint32_t g_mark = 0;

void saveProgramBindings() {
    MidiBindingTable table;
    for (const MidiBinding& binding : g_midiControl->programBindings())
        table.add(binding);
    std::vector<char> text(kMaxText);
    if (!writeBindingsText(table, text.data(), text.size()))
        return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, kBindingsValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                   DWORD(std::strlen(text.data()) + 1));
    RegCloseKey(key);
}

// How a learnt source drives the target: a controller follows a knob; anything
// pressed toggles a switch or a command. A note or program change cannot move a knob.
bool bindingFor(uint32_t target, const MidiMessage& message, MidiBinding& binding) {
    const TargetBehaviourKind kind = targetBehaviourKind(target);
    MidiSourceKind source;
    switch (message.kind) {
    case MidiKind::Controller: source = MidiSourceKind::Controller; break;
    case MidiKind::NoteOn: source = MidiSourceKind::Note; break;
    case MidiKind::ProgramChange: source = MidiSourceKind::Program; break;
    default: return false;
    }
    if (kind == TargetBehaviourKind::Continuous && source != MidiSourceKind::Controller)
        return false;
    binding.source = MidiSource{source, message.data1, int8_t(message.channel)};
    binding.target = target;
    binding.behaviour = kind == TargetBehaviourKind::Continuous ? BindingBehaviour::Continuous : BindingBehaviour::Toggle;
    return true;
}

}  // namespace

void loadProgramBindings() {
    if (!g_midiControl)
        return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    std::vector<char> text(kMaxText + 1, '\0');
    DWORD type = 0;
    DWORD size = DWORD(kMaxText);
    const LONG result = RegQueryValueExA(key, kBindingsValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    RegCloseKey(key);
    if (result == ERROR_FILE_NOT_FOUND)
        return;
    MidiBindingTable table;
    BindingsTextError error;
    if (result != ERROR_SUCCESS || type != REG_SZ ||
        !readBindingsText(text.data(), strnlen(text.data(), kMaxText), table, error)) {
        char why[256] = "";
        if (result == ERROR_SUCCESS && type == REG_SZ)
            describeBindingsTextError(error, why, sizeof why);
        showErrorWithDetail(kStrMidiBindingsUnreadable, why);
        return;
    }
    std::vector<MidiBinding> bindings;
    for (size_t i = 0; i < table.size(); ++i)
        if (isTarget(table.at(i).target) && targetGroup(table.at(i).target) != TargetGroup::PluginParameter)
            bindings.push_back(table.at(i));
    g_midiControl->setProgramBindings(bindings);
}

void startMidiLearn(uint32_t target) {
    if (!g_midiControl || !isTarget(target))
        return;
    g_learning = target;
    g_mark = g_midiControl->learnMark();
}

void forgetMidi(uint32_t target) {
    if (!g_midiControl)
        return;
    if (g_learning == target)
        g_learning = kNoTarget;
    const bool performance = targetGroup(target) == TargetGroup::PluginParameter;
    std::vector<MidiBinding> kept;
    for (const MidiBinding& binding :
         performance ? g_midiControl->performanceBindings() : g_midiControl->programBindings())
        if (binding.target != target)
            kept.push_back(binding);
    if (performance) {
        g_midiControl->setPerformanceBindings(kept);
    } else {
        g_midiControl->setProgramBindings(kept);
        saveProgramBindings();
    }
}

uint32_t midiLearnTarget() { return g_learning; }

bool performanceBindingsText(std::vector<char>& text) {
    text.clear();
    if (!g_midiControl || g_midiControl->performanceBindings().empty())
        return true;
    MidiBindingTable table;
    for (const MidiBinding& binding : g_midiControl->performanceBindings())
        table.add(binding);
    text.assign(kMaxText, '\0');
    if (!writeBindingsText(table, text.data(), text.size())) {
        text.clear();
        return false;
    }
    text.resize(std::strlen(text.data()));
    return true;
}

void takePerformanceBindings(const char* text, size_t size) {
    if (!g_midiControl)
        return;
    if (g_learning & kPluginParameterBit)
        g_learning = kNoTarget;  // its plug-in belonged to the performance going
    std::vector<MidiBinding> bindings;
    if (text && size > 0) {
        MidiBindingTable table;
        BindingsTextError error;
        if (!readBindingsText(text, size, table, error)) {
            char why[256] = "";
            describeBindingsTextError(error, why, sizeof why);
            showErrorWithDetail(kStrMidiPerformanceBindingsUnreadable, why);
        } else {
            for (size_t i = 0; i < table.size(); ++i)
                if (targetGroup(table.at(i).target) == TargetGroup::PluginParameter)
                    bindings.push_back(table.at(i));
        }
    }
    g_midiControl->setPerformanceBindings(bindings);
}

void replaceProgramBindings(const std::vector<MidiBinding>& bindings) {
    if (!g_midiControl)
        return;
    g_midiControl->setProgramBindings(bindings);
    saveProgramBindings();
}

void tickMidiLearn() {
    if (!g_midiControl || g_learning == kNoTarget)
        return;
    MidiMessage message{};
    if (!g_midiControl->newestSince(g_mark, message))
        return;
    MidiBinding binding{};
    if (!bindingFor(g_learning, message, binding)) {
        g_mark = g_midiControl->learnMark();  // not a source for this control: wait for the next
        return;
    }
    // A learnt control answers to the new source alone. A plug-in's parameter is the
    // performance's binding, the rest the program's.
    const bool performance = targetGroup(g_learning) == TargetGroup::PluginParameter;
    std::vector<MidiBinding> bindings;
    for (const MidiBinding& existing :
         performance ? g_midiControl->performanceBindings() : g_midiControl->programBindings())
        if (existing.target != g_learning)
            bindings.push_back(existing);
    bindings.push_back(binding);
    g_learning = kNoTarget;
    if (performance) {
        g_midiControl->setPerformanceBindings(bindings);
    } else {
        g_midiControl->setProgramBindings(bindings);
        saveProgramBindings();
    }
}

void showMidiLearnMenu(HWND owner, uint32_t target, int x, int y) {
    if (!g_midiControl || !isTarget(target))
        return;
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    char learn[64] = "", forget[64] = "";
    loadStringText(kStrMidiLearn, learn, sizeof learn);
    loadStringText(kStrMidiForget, forget, sizeof forget);
    bool bound = false;
    for (const MidiBinding& binding : g_midiControl->programBindings())
        bound = bound || binding.target == target;
    for (const MidiBinding& binding : g_midiControl->performanceBindings())
        bound = bound || binding.target == target;
    AppendMenuA(menu, MF_STRING | (g_learning == target ? MF_CHECKED : 0), IDC_CMD_MIDI_LEARN, learn);
    AppendMenuA(menu, MF_STRING | (bound || g_learning == target ? 0 : MF_GRAYED), IDC_CMD_MIDI_FORGET, forget);
    const int chosen = int(TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, x, y, 0,
                                          owner, nullptr));
    DestroyMenu(menu);
    if (chosen == IDC_CMD_MIDI_LEARN)
        startMidiLearn(target);
    else if (chosen == IDC_CMD_MIDI_FORGET)
        forgetMidi(target);
}

uint32_t fxControlTarget(int id) {
    switch (id) {
    case IDC_FX_INGAIN_KNOB: return controlTarget(ProgramControl::InputGain);
    case IDC_FX_OUTGAIN_KNOB: return controlTarget(ProgramControl::OutputGain);
    case IDC_FX_GATE_THRESH_KNOB: return controlTarget(ProgramControl::GateThreshold);
    case IDC_FX_GATE_ATTACK_KNOB: return controlTarget(ProgramControl::GateAttack);
    case IDC_FX_GATE_RELEASE_KNOB: return controlTarget(ProgramControl::GateRelease);
    case IDC_FX_DC_FILTER_SWITCH: return switchTarget(ProgramSwitch::DcFilter);
    default:
        if (id >= IDC_FX_FIRST_BYPASS_SWITCH && id < IDC_FX_FIRST_BYPASS_SWITCH + kTargetPositions)
            return bypassTarget(id - IDC_FX_FIRST_BYPASS_SWITCH);
        return kNoTarget;
    }
}

void showFxControlMidiMenu(HWND panel, int controlId, int x, int y) {
    if (const uint32_t target = fxControlTarget(controlId))
        showMidiLearnMenu(panel, target, x, y);
}

void showParameterMidiMenu(HWND view, const EffectSlot* slot, int32_t parameter, int x, int y) {
    if (!g_liveSettings || !slot)
        return;
    for (int p = 0; p < LiveSettings::kPositions; ++p)
        if (g_liveSettings->slots[p] == slot) {
            showMidiLearnMenu(view, pluginParameterTarget(p, parameter), x, y);
            return;
        }
}
