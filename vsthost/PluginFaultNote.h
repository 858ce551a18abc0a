#pragma once
// A plug-in that crashes this process while it runs inside it cannot be told about as
// one in its own process can: the process is gone. So the files of the plug-ins loaded
// here are noted, and a fault handler, when the faulting code lies in one of them (or
// lies in a system library or no code at all, and the first caller that is this
// program's or a noted plug-in's is the plug-in's), leaves its path in the settings
// ("Crashed Plug-in") before the process ends. At the next start that plug-in is remembered as failed (FailedPlugins): it then loads in a
// process of its own, and the player is told once. Windows.
#include <cstddef>

#include "WinInclude.h"

struct _EXCEPTION_POINTERS;

// UI thread: a plug-in file is (about to be) loaded in this process, and no longer.
// Counted, so several positions may hold the same file.
void notePluginInProcess(const char* path);
void notePluginOutOfProcess(const char* path);
// A private copy of a noted file, loaded as a module of its own (a second instance of
// a plug-in that cannot share its module): a fault in it blames the original. Any
// thread that loads a plug-in.
void notePluginCopy(HMODULE copy, const char* originalPath);
void forgetPluginCopy(HMODULE copy);

// Installs the fault handler (once, at start, after the settings key exists); the
// handler installed before it is called after it.
void installPluginFaultHandler();

// At start: the plug-in that crashed this program when it last ran, now remembered as
// failed, and its note cleared. False when there was none.
bool takeCrashedPlugin(char* path, size_t size);

// For tests: the path noted for a fault at this code address, as the handler finds it.
bool notedPluginAt(const void* address, char* path, size_t size);
// The handler's whole decision, on the faulting thread (its stack is walked): the plug-in
// blamed for this fault, if any. A fault in this program's code, or in a library this
// program's code called, blames nobody, whatever plug-in called this program before.
bool blamedPluginOf(const _EXCEPTION_POINTERS* info, char* path, size_t size);
