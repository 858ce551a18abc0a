#pragma once
// Why a CLAP plug-in did not load, for the user. The texts sit in one table
// (ClapFailure.cpp) so that they move to the string table with the host's others.
#include <cstddef>

enum class ClapFailure {
    NotAModule,          // detail: the system's reason
    NoEntry,
    EntryIncomplete,
    VersionRefused,      // detail: the module's version
    EntryInitFailed,
    NoFactory,
    NoSuchClass,         // detail: the class id asked for
    NotAnEffect,         // detail: the class id
    NoEffectClass,
    ClassIdTooLong,
    CreateFailed,        // detail: the class id
    PluginIncomplete,    // detail: what is missing
    PluginInitFailed,
    PortsUnreadable,     // detail: which
    PortLayoutRefused,   // detail: the layout offered
    ParametersUnreadable,  // detail: what
    OutOfMemory,
};

// Writes the reason into text (always NUL-terminated).
void describeClapFailure(ClapFailure failure, const char* detail, char* text, size_t size);
