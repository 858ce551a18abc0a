#pragma once
#include <cstddef>

#include "WinInclude.h"
#include "PeHeader.h"
#include "VstInterface.h"

// Loading and releasing plug-in libraries for effect slots.
//
// The operating system hands out one module per library file, and a plug-in that
// keeps one object per library would then give two slots one instance. A second
// slot of the same library therefore gets a private copy of the file (in the temp
// folder), loaded as a module of its own; the copy is deleted when it is released.
class PluginLibrary {
public:
    // Loads path. When inUse(module) says the module already serves a slot, loads a
    // private copy instead and names it in copyPath (size MAX_PATH); otherwise
    // copyPath is empty. Null on failure.
    using InUseTest = bool (*)(void* module, void* context);
    static HMODULE load(const char* path, InUseTest inUse, void* context, char* copyPath);

    // Why path did not load, for the user: the system's reason for error
    // (GetLastError after the failed load) and, when the file is a library of the
    // other Windows width, a plain statement of that. Always NUL-terminated.
    static void describeLoadFailure(const char* path, unsigned long error, char* text, size_t size);

    // The width of the library at path as its PE header names it (the first
    // kPeHeadBytes of the file); Unknown when it cannot be read or is no PE file.
    static LibraryWidth widthOf(const char* path);

    // Frees the module and deletes its private copy, if any.
    static void release(HMODULE module, const char* copyPath);

    // The plug-in's entry point under the names plug-ins export it by, or null.
    static VstEntryProc entryPoint(HMODULE module);

    // Deletes private copies left behind by a run that ended without cleaning up
    // (copies still loaded by a running instance cannot be deleted and stay).
    static void removeStaleCopies();
};
