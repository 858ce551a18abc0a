#pragma once
#include <cstdint>

#include "PluginInstance.h"

class ThreadCheckedPlugin;

// One loaded plug-in in the effect host: the instance behind the seam and the host's
// own bookkeeping about it. Made by the effect host, owned by its slot list. Platform
// handles are kept as plain pointers so that the processing code stays portable.
struct EffectSlot {
    static constexpr int kPathSize = 260;  // 259 characters and the NUL
    static constexpr int kProgramNameSize = 32;

    EffectSlot() = default;
    EffectSlot(const EffectSlot&) = delete;
    EffectSlot& operator=(const EffectSlot&) = delete;

    // The plug-in, every call checked for its thread; null only in stand-ins.
    ThreadCheckedPlugin* plugin = nullptr;
    // What the plug-in tells the host about this slot (owned by the effect host).
    PluginHostEvents* events = nullptr;
    void* editorFrame = nullptr;  // the editor's MDI child, null when no editor is open
    void* editorView = nullptr;   // the child window inside the frame
    char path[kPathSize] = "";    // the file that was actually loaded
    int32_t currentProgram = 0;   // 0 after loading; the program last chosen in the editor
    float* parameters = nullptr;  // the host's copy of the parameter values
    char* programNames = nullptr; // programCount names of 32 bytes, NUL-terminated
    // Present only while the state blob or a performance file is built.
    ByteRecord state;
    uint8_t suspended = 0;        // 1 while switched off because its position is bypassed
    EffectSlot* next = nullptr;   // the following slot in load order
    uint8_t reserved = 0;         // always 0
    int32_t parameterCount = 0;   // entries of parameters
    int32_t programCount = 0;     // entries of programNames
    // Which loading made this slot (never 0): a slot loaded after another was freed
    // may get its address, so a performance remembers slots by this number.
    uint32_t serial = 0;
    // Frames the plug-in said it delays its output by, as last read on the UI thread.
    int32_t latency = 0;
    // Set once the plug-in's failure (its process crashed or hung) has been told.
    bool failureTold = false;
    // Set once the failure is remembered for the plug-in's path (FailedPlugins.h).
    bool failureRemembered = false;
    // It runs in a process of its own; its state is then kept now and then (kept), so
    // that a restart after a crash has the most recent one the program holds.
    bool ownProcess = false;
    ByteRecord kept;
    uint32_t keptAtTick = 0;
    // Set by the last captureState when the plug-in had failed and the state kept
    // before stood in for its own.
    bool stateFromKept = false;

    // What the plug-in asked for since the UI thread last looked (kNews bits): set from
    // any thread, taken on the UI thread. Atomic through the builtins.
    static constexpr uint8_t kNewsLatency = 1;
    static constexpr uint8_t kNewsParameters = 2;
    static constexpr uint8_t kNewsRestart = 4;
    uint8_t news = 0;
    // While held the chain passes this slot's signal by without calling the plug-in;
    // inProcess is 1 while the driver thread is inside its process call. Together they
    // let the UI thread take one plug-in out of processing without pausing the chain.
    uint8_t held = 0;
    uint8_t inProcess = 0;
    // An editor size the plug-in asked for on another thread, for the UI thread to
    // apply (askedEditorSize, width << 16 | height), and whether a message telling the
    // editor frame is on its way: one at a time, so that a plug-in asking in every block
    // cannot flood the UI thread's queue. Atomic through the builtins.
    uint32_t askedEditorSize = 0;
    uint8_t editorSizePosted = 0;

    const void* lookupKey() const { return plugin; }
};
