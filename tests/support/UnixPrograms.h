#pragma once
#include <string>

// Programs of the machine that runs Wine (paplay, parecord, pkill), started from a
// Windows test. Wine starts them without a process handle, so they are not waited
// for: a player ends with its file, or is ended with stopPlayers.

// The Unix path of a Windows path ("Z:\work\a.wav" is "/work/a.wav").
std::string unixPathOf(const std::string& windowsPath);

// Starts "program arguments..." (program given by its Unix path). False when Wine
// could not start it.
bool startUnixProgram(const std::string& commandLine);

// Ends every player started by playIntoSink whose file's path holds pattern.
void stopPlayers(const std::string& pattern);

// Plays a WAV file into a PulseAudio sink ("instrument", "speakers") of the bench.
bool playIntoSink(const std::string& sink, const std::string& windowsPath);
