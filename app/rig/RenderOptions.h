#pragma once
#include <string>

// The rig's options for re-amping (--render) and for the noise gate, parsed beside the
// live rig's own.
struct RenderOptions {
    std::string input;          // --render: the dry take; empty for a live session
    std::string output;         // --out
    double tailSeconds = 2.0;   // rendered after the input, so delays and filters ring out
    bool realtime = false;      // at the input's pace instead of flat out
    int outFormat = -1;         // recorder's table; -1: 24-bit stereo at the input's rate
};

// The gate's three knobs; unset ones keep the program's defaults.
struct GateOptions {
    bool thresholdSet = false;
    float threshold = 0.0f;     // knob value; 0 switches the gate off
    bool openingSet = false;
    float opening = 0.0f;
    bool closingSet = false;
    float closing = 0.0f;
};

// Tries argv[i] as one of these options. Returns 1 when it was one (i then stands on
// its value, if it has one), 0 when it is not, -1 with error set for a bad value.
int parseRenderOption(int argc, const char* const* argv, int& i, RenderOptions& render, GateOptions& gate,
                      std::string& error);

// The --help lines of these options.
const char* renderUsage();
