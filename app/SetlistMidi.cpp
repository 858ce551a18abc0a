#include "SetlistMidi.h"

#include "ControlTargets.h"
#include "SetlistSession.h"
#include "SetlistSwitch.h"
#include "ShellState.h"

void handleSetlistMidi(const ControlEvent& event) {
    HWND frame = g_windows.frame;
    if (event.kind == ControlEventKind::UnboundProgram) {
        const int index = setlistEntryForMessage(event.message, size_t(setlistEntryCount()), kSetlistAnyChannel);
        if (index >= 0)
            switchToSetlistEntry(frame, index);
        return;
    }
    // A momentary binding also reports the release, which is no second press.
    if (event.kind != ControlEventKind::Command || event.value < 0.5f ||
        targetGroup(event.target) != TargetGroup::Command)
        return;
    switch (ProgramCommand(targetItem(event.target))) {
    case ProgramCommand::NextPerformance:
        stepSetlist(frame, 1);
        break;
    case ProgramCommand::PreviousPerformance:
        stepSetlist(frame, -1);
        break;
    case ProgramCommand::SetlistEntry:
        switchToSetlistEntry(frame, int(targetArgument(event.target)));
        break;
    default:
        break;
    }
}
