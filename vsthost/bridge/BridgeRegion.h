#pragma once
// The memory the program shares with one bridge process, which runs one plug-in on
// the program's behalf. The program makes and owns it; the bridge maps it. Two lanes
// cross it: the UI lane carries one call at a time from the program's UI thread, the
// audio lane one block at a time from its audio thread, so that a block never waits
// behind a slow UI call. Each lane is a request serial the program raises and a reply
// serial the bridge sets to it when the answer is in place.
//
// Everything here is written by the other process too: a side reads only through
// BridgeMessage's checked reader and never believes a count or size it did not bound.
// Portable; the atomics are 32-bit and lock-free, so they work across processes.
#include <atomic>
#include <cstdint>

namespace bridge {

constexpr uint32_t kMagic = 0x52424C54u;  // "TLBR"
constexpr uint32_t kVersion = 3;
constexpr int32_t kMaxFrames = 4096;      // per process call
constexpr int32_t kMaxChannels = 2;
constexpr uint32_t kUiPayloadBytes = 64 * 1024;
// The largest editor side that crosses: the bridge takes a larger one at this, and the
// program believes no answer beyond it.
constexpr int32_t kMaxEditorSide = 16384;
inline int32_t boundedEditorSide(int32_t pixels) {
    return pixels < 1 ? 1 : pixels > kMaxEditorSide ? kMaxEditorSide : pixels;
}

enum class Command : uint32_t {
    Hello = 1,        // -> identity, channels, counts, latency, editor
    Configure,        // f64 rate, i32 max frames -> latency
    Resume,
    Suspend,
    ParameterName,    // i32 index -> text
    ParameterText,    // i32 index -> text
    ParameterUnit,    // i32 index -> text
    ParameterValue,   // i32 index -> f32
    SetParameter,     // i32 index, f32 value
    ProgramName,      // i32 index -> text
    SelectProgram,    // i32 index
    CurrentProgram,   // -> i32
    SaveState,        // u32 offset -> u32 total, bytes (a record longer than a reply comes in pieces)
    RestoreBegin,     // u32 total
    RestorePiece,     // bytes
    RestoreCommit,
    Idle,             // -> u32 count, then (i32 index, f32 value) edits made in the plug-in's editor
    Quit,
    // The plug-in's editor in a top-level window of the bridge's own, which the program
    // keeps over the place its editor frame holds for it (never a window of the
    // program's, so that a hung bridge cannot hold the program's input).
    EditorOpen,    // u32 the program's top-level window -> u32 the editor's window, i32 width, i32 height
    EditorClose,
    EditorResize,  // i32 width, i32 height the user gave -> i32 width, i32 height the plug-in took
    EditorSize,    // -> i32 width, i32 height the plug-in last asked for
};

// A reply's status: Ok, or why the call did nothing.
enum class Status : int32_t { Ok = 0, Refused = 1, Malformed = 2, Unknown = 3 };

// News the plug-in gave between calls (PluginHostEvents), as bits.
// kNewsCrashed is the bridge's last word: the plug-in faulted and the process ends.
// kNewsEditorSize: the editor took a size the plug-in asked for (EditorSize says it).
enum News : uint32_t { kNewsLatency = 1, kNewsParameters = 2, kNewsRestart = 4, kNewsUiCall = 8, kNewsCrashed = 16,
                    kNewsEditorSize = 32 };

// A lane's handshake (BridgeCall.h): the caller's request serial, the answer's
// serial, and whether either side sleeps on its bell (else it is still looking, and
// needs no ring, which under Wine saves a wake-up through its server). coming is the
// serial of a request the caller is about to make (the position before it in the chain
// is being processed), so the answering side can be up and looking when it comes.
// askedAt tells the answering side how long its request waited for it.
struct Serials {
    std::atomic<uint32_t> request;
    std::atomic<uint32_t> reply;
    std::atomic<uint32_t> callerAsleep;
    std::atomic<uint32_t> answererAsleep;
    std::atomic<uint32_t> coming;
    std::atomic<uint32_t> askedAt;  // the caller's steady microseconds as it asked (their low 32 bits)
};

struct UiLane {
    Serials serials;
    uint32_t command;
    int32_t status;
    uint32_t size;  // bytes of payload in use, each way
    uint8_t payload[kUiPayloadBytes];
};

struct AudioLane {
    Serials serials;
    int32_t frames;  // the program's, per block
    double tempo;
    float in[kMaxChannels][kMaxFrames];
    float out[kMaxChannels][kMaxFrames];  // the bridge's answer
};

struct Region {
    uint32_t magic;
    uint32_t version;
    uint32_t size;  // sizeof(Region) as the program built it
    uint32_t reserved;
    std::atomic<uint32_t> news;  // News bits set by the bridge, taken by the program
    UiLane ui;
    AudioLane audio;
};

static_assert(std::atomic<uint32_t>::is_always_lock_free, "serials must work across processes");

// The program's side: a fresh region's header.
void initialiseRegion(Region* region);
// The bridge's side: whether a mapped region is one this build speaks.
bool regionSpeaksOurs(const Region* region, uint64_t mappedBytes);

}  // namespace bridge
