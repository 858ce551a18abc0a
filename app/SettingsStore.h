#pragma once
#include <cstdint>

#include "WinInclude.h"

// The settings under HKEY_CURRENT_USER "SOFTWARE\Talvenor Software\Talvenor Live\2",
// read once at start-up and written once when the frame is destroyed. They go to and
// come from the long-lived objects and the shell's values (ShellState.h). UI thread.

// Reads every value (a value of another type or size than its own is ignored and
// the default stays), limits numbers to their ranges and reopens the saved driver by
// name. The program's own plug-in folder is the one beside the running program;
// "szAppDir" names it only for a program that has none (ProgramFolder.h). Returns
// the frame's show state: 3 (maximised) or 5; 5 when there is no key.
int32_t loadSettings(HWND frame);

// Writes every value but "szAppDir"; false when the key does not exist (it is not
// created here). frame gives the show state.
bool saveSettings(HWND frame);

// Takes the tool windows' places (meters, navigation bar, tuner) from the windows while they
// still exist: the frame's owned windows are destroyed before the frame is told of
// its own destruction, where the settings are saved.
void recordToolWindowPlaces();

// First run: creates the settings keys and, when "szAppDir" is missing, stores the
// folder of the running program there. False when the keys could not be made.
bool prepareSettingsKeys();

// The rules applied to the numbers read, one per kind of value.
float limitUnit(float value, float fallback);     // 0.0 ... 1.0; NaN keeps the fallback
int32_t limitTempo(int32_t tempo);                // 6000 ... 20000
uint8_t centerAmpFromStored(uint32_t stored);     // low byte as signed: > 1 is 1, < 0 is 0
int32_t limitDiskBufferTime(int32_t milliseconds);  // 1 ... 1024
int32_t limitWindowCoordinate(int32_t value, int32_t upper);  // 0 ... upper
int32_t limitFrameDimension(int32_t value);      // 200 ... 1000
int32_t showStateFromStored(int32_t stored);     // 3 stays 3, anything else is 5
int32_t referenceAFromStored(uint32_t stored);   // 415 ... 466 Hz, anything else is 440
bool choiceFromStored(uint32_t stored, bool fallback);  // 0 or 1, anything else the fallback
