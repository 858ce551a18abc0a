#pragma once
#include <string>

// Programs of the machine that runs Wine (paplay, parecord, pkill), started from a
// Windows test. Wine starts them without a process handle, so they are not waited
// for: a player ends with its file, anything else is ended with stopUnixPrograms.

// The Unix path of a Windows path ("Z:\work\a.wav" is "/work/a.wav").
std::string unixPathOf(const std::string& windowsPath);

// Starts "program arguments..." (program given by its Unix path). False when Wine
// could not start it.
bool startUnixProgram(const std::string& commandLine);

// Sends SIGINT to every process whose command line contains pattern and waits a
// moment for them to finish their files.
void stopUnixPrograms(const std::string& pattern);

// Plays a WAV file into a PulseAudio sink ("instrument", "speakers") of the bench.
bool playIntoSink(const std::string& sink, const std::string& windowsPath);
