#pragma once
#include <cstddef>
#include <cstdint>

// The byte layouts of a performance, free of any platform call so that they can be
// tested and fuzzed natively: a plug-in's state record, the state blob's sections
// and the performance file (docs/performance-file.md). Nothing here allocates.

// A plug-in's chunk beyond this is not believed: the host would have to copy that
// many bytes from an address the plug-in gave.
constexpr uint32_t kMaxChunkBytes = 16u << 20;
// As many parameters as the effect host accepts from a plug-in.
constexpr int32_t kMaxStateParameters = 65536;
constexpr int kPerformancePositions = 8;
constexpr int kPerformancePathSize = 260;  // 259 characters and the NUL

// --- state records: "CHUNK" N bytes, or "PARAM" P floats ---
constexpr size_t kStateRecordHeader = 9;
inline size_t chunkRecordSize(uint32_t chunkBytes) { return kStateRecordHeader + chunkBytes; }
inline size_t parameterRecordSize(int32_t count) { return kStateRecordHeader + 4 * size_t(count); }
void writeChunkRecord(uint8_t* out, const void* chunk, uint32_t chunkBytes);
enum class StateForm { Chunk, Parameters };
// The first kStateRecordHeader bytes alone: the form's tag and its byte or value count.
void writeStateRecordHeader(uint8_t* out, StateForm form, uint32_t amount);
// One value of a "PARAM" record (4 bytes, little-endian).
void writeStateParameter(uint8_t* out, float value);
void writeParameterRecord(uint8_t* out, const float* values, int32_t count);

// A record as read back: its form and where its data starts. False when the record
// is not exactly one of the two forms within the caps above.
struct StateView {
    StateForm form;
    const uint8_t* data;  // the chunk bytes, or count little-endian floats
    uint32_t chunkBytes;
    int32_t count;
};
bool readStateRecord(const uint8_t* record, size_t size, StateView& view);
float parameterAt(const StateView& view, int32_t index);

// --- the state blob: "VSTWRAP_", then one section per loaded slot ---
constexpr size_t kStateBlobTagSize = 8;
void writeStateBlobTag(uint8_t* out);
inline size_t stateSectionSize(size_t pathLength, size_t recordSize) { return pathLength + recordSize + 19; }
// Writes "PLUG", the path, the record and the "DATA" trailer; returns the end.
uint8_t* writeStateSection(uint8_t* out, const char* path, size_t pathLength, const uint8_t* record,
                           size_t recordSize, uint8_t reserved);

// --- the performance file ---
constexpr int kPerformanceFormatSize = 8;    // as PluginIdentity::format
constexpr int kPerformanceClassIdSize = 80;  // as PluginIdentity::classId
// The format of the positions kept in the first layout ("SLOT"), which every
// version of the program reads; a position of another format is a "PLUG" record.
constexpr char kPerformanceSlotFormat[] = "VST 2";
// The most bytes a "PLUG" position's state (the backend's own bytes) may have.
constexpr uint32_t kMaxPluginStateBytes = uint32_t(kStateRecordHeader) + kMaxChunkBytes;

struct PerformancePosition {
    bool occupied;
    uint8_t bypass;  // 0 or 1
    char format[kPerformanceFormatSize];    // the format's label; empty is VST 2
    char classId[kPerformanceClassIdSize];  // the class within the file; empty for its first
    char path[kPerformancePathSize];
    // The state record (into the file's bytes when read): a "CHUNK"/"PARAM" record
    // for VST 2, the backend's own bytes for other formats.
    const uint8_t* state;
    uint32_t stateSize;
    // It runs in a process of its own (the optional "ownp" record); false in files
    // without one.
    bool ownProcess;
};
// True when the position is kept as a "SLOT" record.
bool isSlotFormat(const PerformancePosition& position);

// The performance's own MIDI bindings (its plug-in parameters) as the bindings
// text (MidiBindings.h), in an optional "midi" record older versions skip.
constexpr uint32_t kMaxPerformanceBindingsBytes = 64u << 10;

struct PerformanceImage {
    char accompaniment[kPerformancePathSize];  // empty: no accompaniment
    PerformancePosition positions[kPerformancePositions];
    // The bindings text (into the file's bytes when read); null and 0 for none.
    const char* bindings;
    uint32_t bindingsSize;
};

constexpr uint16_t kPerformanceFileVersion = 1;
constexpr size_t kPerformanceHeaderSize = 16;
constexpr size_t kPerformanceChecksumSize = 4;
// No file of this version can be larger: eight positions with the largest chunk,
// their paths, and room for optional records.
constexpr size_t kMaxPerformanceFileBytes = size_t(kPerformancePositions) * (kMaxChunkBytes + 1024) + 65536;

enum class PerformanceParse {
    Ok,
    NotAPerformance,  // no magic
    NewerVersion,     // a version this program does not read
    Truncated,        // shorter than its header says
    BadChecksum,      // the bytes were changed after writing
    Inconsistent,     // a length, count, position, path or record that does not hold together
    TooLarge,
};

// Reads a whole file. The positions' states point into data, which must outlive
// the image. Anything but Ok leaves the image cleared.
PerformanceParse parsePerformance(const uint8_t* data, size_t size, PerformanceImage& image);
// A sentence for the error box's detail.
const char* describePerformanceParse(PerformanceParse result);

// Bytes the image takes as a file; 0 when it cannot be written (a path too long or
// with a NUL, a state record that does not read back, a file beyond the limit).
size_t performanceFileSize(const PerformanceImage& image);
// Writes exactly performanceFileSize bytes; false when that size is not size.
bool writePerformance(const PerformanceImage& image, uint8_t* out, size_t size);

// CRC-32 as in zip and PNG (reflected polynomial 0xEDB88320).
uint32_t performanceChecksum(const uint8_t* data, size_t size);
