#pragma once
#include <string>

// The rig's error lines name what failed and why: after the program's own message
// (printed by the console as the box it would show) comes
//     talvenor-rig: PATH: REASON
// where the reason is the system's own, found by asking the system about the path.

// Why a file named on the command line cannot be read: too long, missing, not
// accessible. Empty when the system finds nothing wrong with it.
std::string fileProblem(const std::string& path);
// Why a file cannot be created at path: too long, or its folder's problem.
std::string newFileProblem(const std::string& path);
// Why a plug-in library cannot be used: the file's problem, else the loader's reason
// (another width, not a library), else that it loads but is no usable effect.
std::string libraryProblem(const std::string& path);
// The system's text for an error code, without its line break.
std::string systemMessage(unsigned long code);
// Prints the line above to standard error (the path alone when there is no reason).
void printProblem(const std::string& path, const std::string& reason);
