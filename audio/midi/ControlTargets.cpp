#include "ControlTargets.h"

#include <cstdio>

#include "StringIds.h"
#include "StringTable.h"

TargetBehaviourKind targetBehaviourKind(uint32_t target) {
    switch (targetGroup(target)) {
    case TargetGroup::PluginParameter:
        return TargetBehaviourKind::Continuous;
    case TargetGroup::Control:
        return targetItem(target) < uint8_t(ProgramControl::Count) && targetArgument(target) == 0
                   ? TargetBehaviourKind::Continuous
                   : TargetBehaviourKind::None;
    case TargetGroup::Switch:
        return targetItem(target) < uint8_t(ProgramSwitch::Count) && targetArgument(target) == 0
                   ? TargetBehaviourKind::Switch
                   : TargetBehaviourKind::None;
    case TargetGroup::Bypass:
        return targetItem(target) == 0 && targetArgument(target) < kTargetPositions ? TargetBehaviourKind::Switch
                                                                                    : TargetBehaviourKind::None;
    case TargetGroup::Command: {
        const uint8_t item = targetItem(target);
        if (item >= uint8_t(ProgramCommand::Count))
            return TargetBehaviourKind::None;
        // Only the setlist entry takes an argument.
        if (item != uint8_t(ProgramCommand::SetlistEntry) && targetArgument(target) != 0)
            return TargetBehaviourKind::None;
        return TargetBehaviourKind::Command;
    }
    default:
        return TargetBehaviourKind::None;
    }
}

size_t programTargetCount() {
    return size_t(ProgramControl::Count) + size_t(ProgramSwitch::Count) + kTargetPositions +
           size_t(ProgramCommand::Count);
}

uint32_t programTargetAt(size_t index) {
    if (index < size_t(ProgramControl::Count))
        return controlTarget(ProgramControl(index));
    index -= size_t(ProgramControl::Count);
    if (index < size_t(ProgramSwitch::Count))
        return switchTarget(ProgramSwitch(index));
    index -= size_t(ProgramSwitch::Count);
    if (index < size_t(kTargetPositions))
        return bypassTarget(int(index));
    index -= size_t(kTargetPositions);
    if (index < size_t(ProgramCommand::Count))
        return commandTarget(ProgramCommand(index));
    return kNoTarget;
}

namespace {

// The entry, with up to two numbers put into its %d conversions.
bool nameFrom(int id, char* out, size_t size, int first = 0, int second = 0) {
    char format[128];
    if (!stringTableText(id, format, sizeof format))
        return false;
    std::snprintf(out, size, format, first, second);
    return true;
}

}  // namespace

bool targetName(uint32_t target, char* out, size_t size) {
    if (!out || size == 0)
        return false;
    bool named = false;
    switch (targetBehaviourKind(target) == TargetBehaviourKind::None ? TargetGroup::None : targetGroup(target)) {
    case TargetGroup::Control:
        named = nameFrom(kStrTargetFirstControl + targetItem(target), out, size);
        break;
    case TargetGroup::Switch:
        named = nameFrom(kStrTargetFirstSwitch + targetItem(target), out, size);
        break;
    case TargetGroup::Bypass:
        named = nameFrom(kStrTargetBypass, out, size, targetPosition(target) + 1);
        break;
    case TargetGroup::Command:
        named = nameFrom(kStrTargetFirstCommand + targetItem(target), out, size, targetArgument(target) + 1);
        break;
    case TargetGroup::PluginParameter:
        named = nameFrom(kStrTargetPluginParameter, out, size, targetPosition(target) + 1,
                         int(targetParameterIndex(target)) + 1);
        break;
    default:
        break;
    }
    if (!named && !nameFrom(kStrTargetUnknown, out, size))
        std::snprintf(out, size, "%s", "Unknown target");
    return named;
}
