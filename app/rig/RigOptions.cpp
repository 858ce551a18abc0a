#include "RigOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "DriverSettings.h"

bool parseOptionNumber(const char* text, double lo, double hi, double& value) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno || *end || !(v >= lo && v <= hi))
        return false;
    value = v;
    return true;
}

namespace {

bool parseInteger(const char* text, int lo, int hi, int& value) {
    double v = 0;
    if (!parseOptionNumber(text, lo, hi, v) || v != double(int(v)))
        return false;
    value = int(v);
    return true;
}

// A gain in dB, -60 to +20, as the knob value of the gain law dB = 80 v - 60.
bool parseGain(const char* text, float& knob) {
    double db = 0;
    if (!parseOptionNumber(text, -60.0, 20.0, db))
        return false;
    knob = float((db + 60.0) / 80.0);
    return true;
}

}  // namespace

const char* rigUsage() {
    return "usage: talvenor-rig [options]\n"
           "A headless live rig: the instrument goes through the effects, is mixed with the\n"
           "backing track and sent to the outputs, and the take is recorded to a WAV file.\n"
           "Prints the meters and the CPU load every second; stops after --seconds or Ctrl+C.\n"
           "\n"
           "  --driver NAME          ASIO driver by its description (default: the built-in driver)\n"
           "  --list-drivers         list the installed ASIO drivers and exit\n"
           "  --input-device NAME    built-in driver: DirectSound capture device\n"
           "  --output-device NAME   built-in driver: DirectSound playback device\n"
           "  --buffer FRAMES        built-in driver: frames per block (8 to 8000)\n"
           "  --dx-mode MODE         built-in driver: exclusive, shared (WASAPI) or directsound\n"
           "  --blocks N             built-in driver: blocks per ring, 2 4 8 16 32 or 64 (more is\n"
           "                         steadier, less is quicker)\n"
           "  --fx POS=PATH          load the effect PATH into position POS (0 to 7): a VST 2 .dll,\n"
           "                         a VST3 bundle folder or .vst3 file, or a .clap file\n"
           "  --param POS:NAME=VALUE set parameter NAME (as the effect names it, or its index) of\n"
           "                         position POS to VALUE, 0 to 1, before processing starts\n"
           "  --bypass POS           bypass position POS\n"
           "  --own-process POS      run the effect of position POS (or all) in a process of its own:\n"
           "                         its crash or hang leaves the position dry, the session goes on\n"
           "                         (a plug-in of the other width, or one that failed once, always is)\n"
           "  --backing FILE         play this WAV file along, looping\n"
           "  --performance FILE     open this performance file (.tlp) as the program does\n"
           "  --setlist FILE         open this setlist (.tlset) and start on its first entry; an\n"
           "                         unbound program change N switches to entry N+1\n"
           "  --midi-script FILE     play these time-stamped MIDI messages (SECONDS BYTE BYTE [BYTE])\n"
           "                         through the MIDI input path, timed by the audio\n"
           "  --switch-tail SECONDS  how long the outgoing chain rings on at a switch, 0 to 10\n"
           "                         (default 3)\n"
           "  --take FILE            record the take to FILE (default: take-<date>-<time>.wav)\n"
           "  --no-take              do not record\n"
           "  --format N             take format 0-19 (default 7): 10*(24-bit) + 5*(stereo) + rate,\n"
           "                         rates 22050, 32000, 44100, 48000, 96000\n"
           "  --method direct|ram    stream the take to disk (default) or hold it in memory\n"
           "  --playing-only         record without the backing track\n"
           "  --seconds N            run for N seconds (default: until Ctrl+C)\n"
           "  --metronome            sound the click\n"
           "  --tempo BPM            metronome tempo, 60 to 200 (default 120)\n"
           "  --tuner                print the note heard, its cents and frequency every second\n"
           "  --in-gain DB           input gain, -60 to +20 dB (default 0)\n"
           "  --out-gain DB          output gain, -60 to +20 dB (default 0)\n"
           "  --make-demo PREFIX     write PREFIX-riff.wav and PREFIX-backing.wav and exit\n"
           "  --help                 this text\n";
}

bool parseRigOptions(int argc, const char* const* argv, RigOptions& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&]() {
            if (!value) {
                error = arg + " needs a value";
                return false;
            }
            ++i;
            return true;
        };
        auto bad = [&](const char* what) {
            error = std::string("bad value for ") + arg + ": " + (value ? value : "") + " (" + what + ")";
            return false;
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--list-drivers") {
            o.listDrivers = true;
        } else if (arg == "--no-take") {
            o.record = false;
        } else if (arg == "--playing-only") {
            o.playingOnly = true;
        } else if (arg == "--metronome") {
            o.metronome = true;
        } else if (arg == "--tuner") {
            o.tuner = true;
        } else if (arg == "--driver" || arg == "--input-device" || arg == "--output-device" || arg == "--backing" ||
                   arg == "--take" || arg == "--make-demo" || arg == "--performance" || arg == "--setlist" ||
                   arg == "--midi-script") {
            if (!needValue())
                return false;
            std::string& target = arg == "--driver"         ? o.driver
                                  : arg == "--input-device" ? o.inputDevice
                                  : arg == "--output-device" ? o.outputDevice
                                  : arg == "--backing"      ? o.backing
                                  : arg == "--take"         ? o.take
                                  : arg == "--performance"  ? o.performance
                                  : arg == "--setlist"      ? o.setlist
                                  : arg == "--midi-script"  ? o.midiScript
                                                            : o.makeDemo;
            target = value;
        } else if (arg == "--switch-tail") {
            if (!needValue())
                return false;
            if (!parseOptionNumber(value, 0.0, 10.0, o.tailSeconds))
                return bad("0 to 10 seconds");
        } else if (arg == "--buffer") {
            if (!needValue())
                return false;
            if (!parseInteger(value, 8, 8000, o.bufferFrames))
                return bad("8 to 8000");
        } else if (arg == "--dx-mode") {
            if (!needValue())
                return false;
            const std::string mode = value;
            if (mode == "exclusive")
                o.driverMode = int(DriverMode::wasapiExclusive);
            else if (mode == "shared")
                o.driverMode = int(DriverMode::wasapiShared);
            else if (mode == "directsound")
                o.driverMode = int(DriverMode::directSound);
            else
                return bad("exclusive, shared or directsound");
        } else if (arg == "--blocks") {
            if (!needValue())
                return false;
            int blocks = 0;
            if (!parseInteger(value, 2, 64, blocks) || (blocks & (blocks - 1)) != 0)
                return bad("2, 4, 8, 16, 32 or 64");
            o.bufferCount = blocks;
        } else if (arg == "--fx") {
            if (!needValue())
                return false;
            const char* eq = std::strchr(value, '=');
            int position = -1;
            if (!eq || eq == value || !parseInteger(std::string(value, eq).c_str(), 0, 7, position) || !eq[1])
                return bad("POS=PATH with POS 0 to 7");
            o.effects.push_back({position, eq + 1});
        } else if (arg == "--param") {
            if (!needValue())
                return false;
            const std::string text = value;
            const size_t colon = text.find(':');
            const size_t eq = text.rfind('=');
            int position = -1;
            double number = 0.0;
            if (colon == std::string::npos || eq == std::string::npos || eq <= colon + 1 ||
                !parseInteger(text.substr(0, colon).c_str(), 0, 7, position) ||
                !parseOptionNumber(text.c_str() + eq + 1, 0.0, 1.0, number))
                return bad("POS:NAME=VALUE with POS 0 to 7 and VALUE 0 to 1");
            o.parameters.push_back({position, text.substr(colon + 1, eq - colon - 1), number});
        } else if (arg == "--own-process") {
            if (!needValue())
                return false;
            int position = -1;
            if (std::strcmp(value, "all") == 0)
                position = 8;
            else if (!parseInteger(value, 0, 7, position))
                return bad("0 to 7, or all");
            o.ownProcess.push_back(position);
        } else if (arg == "--bypass") {
            if (!needValue())
                return false;
            int position = -1;
            if (!parseInteger(value, 0, 7, position))
                return bad("0 to 7");
            o.bypassed.push_back(position);
        } else if (arg == "--format") {
            if (!needValue())
                return false;
            if (!parseInteger(value, 0, 19, o.formatIndex))
                return bad("0 to 19");
        } else if (arg == "--method") {
            if (!needValue())
                return false;
            if (std::strcmp(value, "direct") == 0)
                o.ramTake = false;
            else if (std::strcmp(value, "ram") == 0)
                o.ramTake = true;
            else
                return bad("direct or ram");
        } else if (arg == "--seconds") {
            if (!needValue())
                return false;
            if (!parseOptionNumber(value, 0.0, 86400.0, o.seconds))
                return bad("0 to 86400");
        } else if (arg == "--tempo") {
            if (!needValue())
                return false;
            if (!parseOptionNumber(value, 60.0, 200.0, o.tempoBpm))
                return bad("60 to 200");
        } else if (arg == "--in-gain" || arg == "--out-gain") {
            if (!needValue())
                return false;
            if (!parseGain(value, arg == "--in-gain" ? o.inputGain : o.outputGain))
                return bad("-60 to 20 dB");
        } else if (const int taken = parseRenderOption(argc, argv, i, o.render, o.gate, error); taken != 0) {
            if (taken < 0)
                return false;
        } else {
            error = "unknown option " + arg + " (see --help)";
            return false;
        }
    }
    if (!o.performance.empty() && !o.setlist.empty()) {
        error = "--performance and --setlist do not go together (a setlist names its performances)";
        return false;
    }
    if ((!o.performance.empty() || !o.setlist.empty()) && !o.effects.empty()) {
        error = "--fx does not go with --performance or --setlist (the performance names its effects)";
        return false;
    }
    return true;
}
