#pragma once
// Why a CLAP plug-in did not load, for the user. The texts are the string table's,
// from kStrClapFirstFailure on in this order.
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
    FiguresRefused,      // the host's rate or block size is outside what is hosted
    ActivateRefused,     // detail: the rate and block size
};

// Writes the reason into text (always NUL-terminated).
void describeClapFailure(ClapFailure failure, const char* detail, char* text, size_t size);
