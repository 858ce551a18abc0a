#include "ProgramMidi.h"

#include <new>

#include "FrameWindow.h"
#include "LiveEngine.h"
#include "MessageBoxes.h"
#include "MidiControl.h"
#include "MidiInputDevices.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "StringIds.h"

namespace {

MidiControl* g_control = nullptr;

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

}  // namespace

MidiControl* programMidiControl() { return g_control; }
MidiInputDevices* programMidiInputs() { return g_midiInputs; }

bool startProgramMidi() {
    g_control = new (std::nothrow) MidiControl();
    if (!g_control)
        return false;
    g_midiInputs = new (std::nothrow) MidiInputDevices(*g_control);
    if (!g_midiInputs)
        return false;
    g_liveEngine->attachMidi(g_control);
    char missing[MidiInputDevices::kMaxChosen * (MidiInputDevices::kNameSize + 2)];
    char failed[MidiInputDevices::kMaxChosen * (MidiInputDevices::kNameSize + 48)];
    g_midiInputs->loadChoice(missing, sizeof missing, failed, sizeof failed);
    if (missing[0])
        showErrorWithDetail(kStrMidiDevicesMissing, missing);
    if (failed[0])
        showErrorWithDetail(kStrMidiDevicesOpenFailed, failed);
    return true;
}

void stopProgramMidi() {
    delete g_midiInputs;  // every device closed: no callback feeds the control point any more
    g_midiInputs = nullptr;
    if (g_liveEngine)
        g_liveEngine->attachMidi(nullptr);
    delete g_control;
    g_control = nullptr;
}

void tickProgramMidi(HWND frame) {
    if (!g_midiInputs || !g_control)
        return;
    char vanished[MidiInputDevices::kMaxChosen * (MidiInputDevices::kNameSize + 2)];
    if (g_midiInputs->tick(vanished, sizeof vanished))
        showErrorWithDetail(kStrMidiDeviceVanished, vanished);
    ControlEvent event{};
    while (g_control->takeEvent(event)) {
        // A momentary command binding also sends its release; the frame's commands act on the press.
        if (event.kind == ControlEventKind::Command && event.value > 0.5f)
            if (const int command = frameCommandOf(event.target))
                runFrameCommand(frame, command);
    }
}
