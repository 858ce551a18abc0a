#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "PerformanceFormat.h"
#include "PerformanceSwitcher.h"

class EffectHost;

// Opening a performance file beside the running chain, for a switch: the program's
// setlist stage and the rig's show load the same way. UI thread.

// A file that exists and is no folder.
bool regularFileExists(const std::string& path);

// The whole file read and parsed; refused unread beyond the largest a performance
// can be. bytes holds what image points into. False with error saying why.
bool readPerformanceImage(const std::string& path, std::vector<uint8_t>& bytes, PerformanceImage& image,
                          std::string& error);

// Loads the file's plug-ins (each where its position keeps it: in this process or
// its own) with their states, its backing track's path and its MIDI bindings (only
// those of plug-in parameters when parameterBindingsOnly). Parts that cannot be
// loaded are named in out.missing. False, nothing loaded, when the file does not read
// or names a format this edition cannot load.
bool loadPerformanceForSwitch(EffectHost& host, const std::string& path, bool parameterBindingsOnly,
                              LoadedPerformance& out, std::string& error);
