#include "RigEffects.h"

#include <cstdio>

#include "MessageBoxes.h"
#include "StringIds.h"
#include "ThreadCheckedPlugin.h"

bool setUpRigEffects(RigSession& s, const RigOptions& o) {
    for (const RigOptions::Effect& fx : o.effects) {
        bool own = false;
        for (int position : o.ownProcess)
            own = own || position == 8 || position == fx.position;
        s.effects().setLoadInOwnProcess(own);
        const bool loaded = s.settings().loadPathIntoPosition(fx.position, fx.path.c_str());
        s.effects().setLoadInOwnProcess(false);
        if (!loaded) {
            showErrorWithDetail(kStrLoadPluginFailed, s.effects().lastLoadFailure());
            return false;
        }
        // In its own process also when asked for none: a plug-in that failed before gets one.
        const EffectSlot* slot = s.settings().slots[fx.position];
        const PluginIdentity& who = slot->plugin->identity();
        std::printf("fx %d: %s by %s (%s%s)\n", fx.position, who.name, who.vendor[0] ? who.vendor : "an unnamed vendor",
                    who.format, slot->ownProcess ? ", in its own process" : "");
    }
    for (int position : o.bypassed)
        if (!s.settings().bypass[position])
            s.settings().toggleBypass(position);
    for (const RigOptions::Parameter& p : o.parameters) {
        EffectSlot* slot = s.settings().slots[p.position];
        if (!slot) {
            std::fprintf(stderr, "talvenor-rig: --param %d:%s: position %d holds no effect\n", p.position,
                         p.name.c_str(), p.position);
            return false;
        }
        const int32_t index = s.effects().findParameter(slot, p.name.c_str());
        if (index < 0 || !s.effects().setParameter(slot, index, float(p.value))) {
            std::fprintf(stderr, "talvenor-rig: --param %d:%s: %s has no such parameter (it has %d)\n", p.position,
                         p.name.c_str(), slot->plugin->identity().name, int(slot->parameterCount));
            return false;
        }
    }
    std::fflush(stdout);
    return true;
}
