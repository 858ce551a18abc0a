#pragma once
// Pieces of the render tests: dry takes written sample by sample, the live chain run
// by hand over the same blocks, the rig's --render called as the program calls it, and
// a summary of a rendered sound that a stored reference can be compared with.
#include <functional>
#include <cstdint>
#include <string>
#include <vector>

#include "LiveSettings.h"

// A dry take as integers of its width (16 or 24 bits), one vector per channel.
struct DryTake {
    uint32_t rate = 44100;
    int bits = 24;
    std::vector<std::vector<int32_t>> channels;
    size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

// Quantises full-scale floats to the take's width.
std::vector<int32_t> quantise(const std::vector<float>& samples, int bits);
// Writes a plain 44-byte-header PCM file (no help from the program's writer).
bool writeDryTake(const std::string& path, const DryTake& take);

// The live chain over the same blocks as a driver of the take's width would hand it
// (a mono take on both inputs), with the outputs 24-bit: what the live path makes of
// the take, as floats of the 24-bit values, frames of it.
std::vector<std::vector<float>> liveChainOutput(const DryTake& take, LiveSettings& settings, int32_t block,
                                                size_t frames);

// talvenor-rig with these arguments (after the program name), through the same
// parsing and render function as the program. Returns its exit code. stopAfterPolls:
// Ctrl+C is pressed when the rig has looked that many times (0: never).
int runRig(const std::vector<std::string>& arguments, int stopAfterPolls = 0);

// True when the file's RIFF and data sizes agree with its length (a valid file).
bool headerMatchesLength(const std::string& path);
std::vector<uint8_t> fileBytes(const std::string& path);
// What the call printed to the standard output, and its result in *result.
std::string capturedOutput(const std::function<int()>& call, int* result = nullptr);
// How many times what occurs in text (the lines a run printed).
size_t timesIn(const std::string& text, const std::string& what);
bool fileExists(const std::string& path);

// Per 1024-frame window of a stereo sound: the RMS of left, right, side (L-R)/2 and of
// what the effect changed (mid (L+R)/2 less the dry signal, which holds a vibrato's
// pitch as much as a tremolo's level), then the mid signal's level in the octave
// bands below 150, 300, 600, 1200, 2400, 4800 Hz and Nyquist; all in dB, floored at -90.
using SoundSummary = std::vector<std::vector<double>>;
SoundSummary summarise(const std::vector<std::vector<float>>& stereo, const std::vector<float>& dry, uint32_t rate);
bool writeSummary(const std::string& path, const std::string& comment, const SoundSummary& summary);
bool readSummary(const std::string& path, SoundSummary& summary);
