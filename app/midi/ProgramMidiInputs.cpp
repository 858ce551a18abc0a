#include "ProgramMidiInputs.h"

#include <new>

#include "EditorWindow.h"
#include "FrameWindow.h"
#include "MessageBoxes.h"
#include "MidiControl.h"
#include "MidiInputDevices.h"
#include "MidiLearn.h"
#include "ProgramMidi.h"
#include "RecordingDialog.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "StringIds.h"

namespace {

// The frame command a MIDI command stands for; 0 for none the frame has.
int frameCommandOf(uint32_t target) {
    if (targetGroup(target) != TargetGroup::Command)
        return 0;
    switch (ProgramCommand(targetItem(target))) {
    case ProgramCommand::LiveInput: return IDC_CMD_LIVE_INPUT;
    case ProgramCommand::TapTempo: return IDC_CMD_TAP_TEMPO;
    case ProgramCommand::Play: return IDC_CMD_PLAY;
    case ProgramCommand::Pause: return IDC_CMD_PAUSE;
    case ProgramCommand::Rewind: return IDC_CMD_REWIND;
    default: return 0;
    }
}

// A momentary command binding also sends its release; the frame's commands act on
// the press.
void runPressedCommand(const ControlEvent& event) {
    if (event.kind != ControlEventKind::Command || event.value <= 0.5f || !g_windows.frame)
        return;
    if (targetGroup(event.target) == TargetGroup::Command &&
        ProgramCommand(targetItem(event.target)) == ProgramCommand::Record) {
        toggleTakeFromBinding(g_windows.frame);
        return;
    }
    if (const int command = frameCommandOf(event.target))
        runFrameCommand(g_windows.frame, command);
}

}  // namespace

bool startProgramMidiInputs() {
    if (!g_midiControl)
        return false;
    g_midiInputs = new (std::nothrow) MidiInputDevices(*g_midiControl);
    if (!g_midiInputs)
        return false;
    setProgramMidiHandler(&runPressedCommand);
    loadProgramBindings();
    setParameterMenu(&showParameterMidiMenu);
    char missing[MidiInputDevices::kMaxChosen * (MidiInputDevices::kNameSize + 2)];
    char failed[MidiInputDevices::kMaxChosen * (MidiInputDevices::kNameSize + 48)];
    g_midiInputs->loadChoice(missing, sizeof missing, failed, sizeof failed);
    if (missing[0])
        showErrorWithDetail(kStrMidiDevicesMissing, missing);
    if (failed[0])
        showErrorWithDetail(kStrMidiDevicesOpenFailed, failed);
    return true;
}

void stopProgramMidiInputs() {
    setProgramMidiHandler(nullptr);
    setParameterMenu(nullptr);
    delete g_midiInputs;
    g_midiInputs = nullptr;
}

void tickProgramMidiInputs() {
    tickMidiLearn();
    if (!g_midiInputs)
        return;
    char vanished[MidiInputDevices::kMaxChosen * (MidiInputDevices::kNameSize + 2)];
    if (g_midiInputs->tick(vanished, sizeof vanished))
        showErrorWithDetail(kStrMidiDeviceVanished, vanished);
}
