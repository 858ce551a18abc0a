#pragma once
#include "RigOptions.h"
#include "RigSession.h"

// The rig's effects, the same for a live session and a render: each --fx loaded into
// its position (one line printed per effect, with its vendor and format), the
// --bypass positions switched off, then each --param set. Shows or prints what fails
// and returns false.
bool setUpRigEffects(RigSession& session, const RigOptions& options);
