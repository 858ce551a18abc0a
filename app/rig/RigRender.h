#pragma once
#include "LiveSettings.h"
#include "RigOptions.h"

// Asked between progress updates; true ends the render early (Ctrl+C).
using RenderStopRequest = bool (*)(void* context);

// talvenor-rig --render: re-amps a dry take. The live session is set up from the
// rig's options as for playing live, but opened on the render driver, which feeds
// the chain from the input file and writes what comes out to the output file.
// Prints a progress bar for inputs longer than a few seconds. Returns the exit code
// (0 when the output was written, 1 when not, 2 for options that do not go together).
int runRender(const RigOptions& options, RenderStopRequest stopRequested, void* context);

// The noise gate's knobs that the options set, for a live session as for a render.
void applyGateOptions(const GateOptions& gate, LiveSettings& settings);
