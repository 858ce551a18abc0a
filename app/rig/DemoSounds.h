#pragma once
#include <string>

// The demo material of the rig: a riff to play into the instrument input and a
// backing track to play along with. Both are 16-bit stereo WAV files at 44100 Hz.

// Eight bars of plucked notes on A (110 Hz) and its neighbours, 120 bpm, peaks
// around -6 dBFS.
bool writeDemoRiff(const std::string& path, double seconds);

// A soft A minor chord (220, 261.63 and 329.63 Hz) with a slow swell, around -20 dBFS.
bool writeDemoBacking(const std::string& path, double seconds);
