#pragma once
#include <cstdint>

#include "VstInterface.h"

// One loaded plug-in instance. Allocated zero-filled by the effect host, owned by its
// slot list. Platform handles are kept as plain pointers so that the processing
// code stays portable.
struct EffectSlot {
    static constexpr int kPathSize = 260;  // 259 characters and the NUL
    static constexpr int kProgramNameSize = 32;

    void* editorFrame;        // the editor's MDI child, null when no editor is open
    void* editorView;         // the child window inside the frame
    void* library;            // module handle of the loaded library
    char path[kPathSize];     // the library that was actually loaded (the original, not a private copy)
    AEffect* effect;
    int32_t currentProgram;   // 0 after loading; the program last chosen in the editor
    float* parameters;        // the host's copy of the numParams values
    char* programNames;       // numPrograms names of 32 bytes, NUL-terminated
    uint8_t needsIdle;        // the plug-in asked for idle calls (set from any thread)
    uint8_t* stateRecord;     // present only while the state blob or a performance file is built
    int32_t stateSize;
    uint8_t suspended;        // 1 while switched off because its position is bypassed
    EffectSlot* next;         // the following slot in load order
    uint8_t reserved;         // always 0
    // Where this instance's library was copied to give it an instance of its own (the
    // same library already serves another slot); empty when the original was loaded.
    char privateCopy[kPathSize];
    int32_t parameterCount;   // entries of parameters
    int32_t programCount;     // entries of programNames
    // The folder of path, answered to the plug-in's get-directory request; written
    // once at loading, so that any thread may read it while the slot lives.
    char directory[kPathSize];
    // Which loading made this slot (never 0): a slot loaded after another was freed
    // may get its address, so a performance remembers slots by this number.
    uint32_t serial;
};
