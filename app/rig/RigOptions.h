#pragma once
#include <string>
#include <vector>

#include "BuiltInDriver.h"
#include "RenderOptions.h"

// The headless rig's command line.
struct RigOptions {
    struct Effect {
        int position;
        std::string path;
    };
    struct Parameter {
        int position;
        std::string name;  // as the plug-in names it, or its index
        double value;      // normalised, 0 to 1
    };

    bool help = false;
    bool listDrivers = false;
    std::string driver = kBuiltInDriverName;
    std::string inputDevice;   // built-in driver: DirectSound capture device
    std::string outputDevice;  // built-in driver: DirectSound playback device
    int bufferFrames = 0;      // built-in driver block size; 0 keeps the stored one
    int bufferCount = 0;       // built-in driver blocks per ring; 0 keeps the stored one
    int driverMode = -1;       // built-in driver: a DriverMode number; -1 keeps the stored one
    std::vector<Effect> effects;
    std::vector<int> bypassed;
    std::vector<int> ownProcess;  // positions whose effect runs in a process of its own (8: all)
    std::vector<Parameter> parameters;  // set in this order before processing starts
    std::string backing;
    std::string performance;   // a performance file, opened as the program opens it
    std::string setlist;       // a setlist: starts on its first entry; program changes switch
    std::string midiScript;    // time-stamped MIDI fed through the device path
    double tailSeconds = 3.0;  // the outgoing chain's tail at a switch, 0 to 10
    std::string take;          // empty: a name made from the date and time
    bool record = true;
    int formatIndex = 7;       // 44100 Hz, 16-bit, stereo
    bool ramTake = false;
    bool playingOnly = false;  // the take without the backing track
    double seconds = 0.0;      // 0: until Ctrl+C
    bool metronome = false;
    bool tuner = false;        // a line per second of audio with the note heard
    double tempoBpm = 120.0;
    float inputGain = 0.75f;   // knob values, 0.75 is 0 dB
    float outputGain = 0.75f;
    std::string makeDemo;      // write the demo riff and backing track with this prefix, then exit
    RenderOptions render;      // --render and its options
    GateOptions gate;
};

// Parses argv; on failure returns false with a message for the user in error.
// A whole option value as a number from lo to hi (nothing after it); false otherwise.
bool parseOptionNumber(const char* text, double lo, double hi, double& value);

bool parseRigOptions(int argc, const char* const* argv, RigOptions& options, std::string& error);

// The --help text.
const char* rigUsage();
