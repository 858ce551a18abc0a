#include "RenderOptions.h"
#include "RigOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// The gate's laws: threshold dB = -60 (1 - 0.9 v), opening and closing ms = 495 v + 5.
// -60 dB itself is the lowest knob value that still gates (0 is off).
float thresholdKnob(double db) {
    const float knob = float((1.0 + db / 60.0) / 0.9);
    return knob < 0.00002f ? 0.00002f : knob;
}
float rampKnob(double ms) { return float((ms - 5.0) / 495.0); }

}  // namespace

const char* renderUsage() {
    return "\n"
           "Re-amping: a recorded dry take through the same chain, from file to file, as fast\n"
           "as the machine runs it (the effects, bypass, gains, gate, backing track, metronome\n"
           "and --take options above apply; a take is recorded only when --take is given):\n"
           "  --render FILE          the dry take (WAV: 8 to 32-bit PCM or float, mono or stereo)\n"
           "  --out FILE             the result; an existing file is replaced only when the render\n"
           "                         succeeds (it is written as FILE's name with .part.wav first)\n"
           "  --out-format N         0-19 as --format (default: 24-bit stereo at the input's rate,\n"
           "                         48000 Hz for a rate the table lacks)\n"
           "  --tail S               seconds rendered after the input ends, 0 to 60 (default 2)\n"
           "  --realtime             at the input's pace instead of flat out\n"
           "  --buffer FRAMES        the block size, 8 to 8000 (default 4096: fewer callbacks; the\n"
           "                         chain works in sub-blocks of at most 1024 whatever the size)\n"
           "Noise gate (live and render; the defaults are the program's):\n"
           "  --gate DB|off          threshold, -60 to -6 dB (default -42), or off\n"
           "  --gate-open MS         opening time, 5 to 500 ms (default 5)\n"
           "  --gate-close MS        closing time, 5 to 500 ms (default 100)\n";
}

int parseRenderOption(int argc, const char* const* argv, int& i, RenderOptions& render, GateOptions& gate,
                      std::string& error) {
    const std::string arg = argv[i];
    static const char* const kOurs[] = {"--render", "--out", "--out-format", "--tail", "--realtime",
                                        "--gate", "--gate-open", "--gate-close"};
    bool ours = false;
    for (const char* name : kOurs)
        ours = ours || arg == name;
    if (!ours)
        return 0;
    if (arg == "--realtime") {
        render.realtime = true;
        return 1;
    }
    if (i + 1 >= argc) {
        error = arg + " needs a value";
        return -1;
    }
    const char* value = argv[++i];
    auto bad = [&](const char* what) {
        error = std::string("bad value for ") + arg + ": " + value + " (" + what + ")";
        return -1;
    };
    double v = 0.0;
    if (arg == "--render" || arg == "--out") {
        if (!*value)
            return bad("a file name");
        (arg == "--render" ? render.input : render.output) = value;
    } else if (arg == "--out-format") {
        if (!parseOptionNumber(value, 0, 19, v) || v != double(int(v)))
            return bad("0 to 19");
        render.outFormat = int(v);
    } else if (arg == "--tail") {
        if (!parseOptionNumber(value, 0.0, 60.0, v))
            return bad("0 to 60 seconds");
        render.tailSeconds = v;
    } else if (arg == "--gate") {
        gate.thresholdSet = true;
        if (std::strcmp(value, "off") == 0)
            gate.threshold = 0.0f;
        else if (parseOptionNumber(value, -60.0, -6.0, v))
            gate.threshold = thresholdKnob(v);
        else
            return bad("-60 to -6 dB, or off");
    } else {
        if (!parseOptionNumber(value, 5.0, 500.0, v))
            return bad("5 to 500 ms");
        (arg == "--gate-open" ? gate.openingSet : gate.closingSet) = true;
        (arg == "--gate-open" ? gate.opening : gate.closing) = rampKnob(v);
    }
    return 1;
}
