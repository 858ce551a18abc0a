#include "PerformanceFormat.h"

#include <cstring>

namespace {

const uint8_t kMagic[8] = {'T', 'L', 'P', 'E', 'R', 'F', '\r', '\n'};
const size_t kRecordHeader = 8;      // tag and payload length
const size_t kSlotFixedBytes = 8;    // position, bypass, path length, state size
const size_t kOwnProcessBytes = 1;   // a bit per position

void put16(uint8_t* out, uint16_t v) {
    out[0] = uint8_t(v);
    out[1] = uint8_t(v >> 8);
}

void put32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(v >> (8 * i));
}

uint16_t get16(const uint8_t* in) { return uint16_t(in[0] | in[1] << 8); }

uint32_t get32(const uint8_t* in) {
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

bool tagIs(const uint8_t* at, const char* tag) { return std::memcmp(at, tag, 4) == 0; }

// A path as the file keeps it: 0 to 259 bytes, none of them NUL.
bool pathBytesFit(const uint8_t* bytes, size_t length) {
    return length < size_t(kPerformancePathSize) && std::memchr(bytes, 0, length) == nullptr;
}

size_t pathLength(const char* path) {
    const void* end = std::memchr(path, 0, kPerformancePathSize);
    return end ? size_t(static_cast<const char*>(end) - path) : size_t(kPerformancePathSize);
}

void copyPath(char* to, const uint8_t* bytes, size_t length) {
    std::memcpy(to, bytes, length);
    to[length] = '\0';
}

PerformanceParse readAccompaniment(const uint8_t* payload, size_t length, bool& seen, PerformanceImage& image) {
    if (seen || !pathBytesFit(payload, length))
        return PerformanceParse::Inconsistent;
    seen = true;
    copyPath(image.accompaniment, payload, length);
    return PerformanceParse::Ok;
}

PerformanceParse readSlot(const uint8_t* payload, size_t length, PerformanceImage& image) {
    if (length < kSlotFixedBytes)
        return PerformanceParse::Inconsistent;
    const uint8_t position = payload[0];
    const uint8_t bypass = payload[1];
    const size_t pathBytes = get16(payload + 2);
    if (position >= kPerformancePositions || bypass > 1 || image.positions[position].occupied)
        return PerformanceParse::Inconsistent;
    // Every length is compared with what remains before it is used.
    if (pathBytes == 0 || pathBytes > length - kSlotFixedBytes || !pathBytesFit(payload + 4, pathBytes))
        return PerformanceParse::Inconsistent;
    const uint8_t* sizeField = payload + 4 + pathBytes;
    const size_t stateSize = get32(sizeField);
    if (stateSize != length - kSlotFixedBytes - pathBytes)
        return PerformanceParse::Inconsistent;
    StateView view;
    if (!readStateRecord(sizeField + 4, stateSize, view))
        return PerformanceParse::Inconsistent;
    PerformancePosition& p = image.positions[position];
    p.occupied = true;
    p.bypass = bypass;
    copyPath(p.path, payload + 4, pathBytes);
    std::memcpy(p.format, kPerformanceSlotFormat, sizeof kPerformanceSlotFormat);
    p.state = sizeField + 4;
    p.stateSize = uint32_t(stateSize);
    return PerformanceParse::Ok;
}

// A label or class id as the file keeps it: a length byte and that many bytes, none
// of them NUL, shorter than its field.
bool readShortText(const uint8_t*& at, size_t& remaining, char* to, size_t field) {
    if (remaining < 1)
        return false;
    const size_t length = at[0];
    if (length >= field || length > remaining - 1 || std::memchr(at + 1, 0, length))
        return false;
    std::memcpy(to, at + 1, length);
    to[length] = '\0';
    at += 1 + length;
    remaining -= 1 + length;
    return true;
}

size_t textLength(const char* text, size_t field) {
    const void* end = std::memchr(text, 0, field);
    return end ? size_t(static_cast<const char*>(end) - text) : field;
}

// "PLUG": position, bypass, format, class id, path and the backend's state bytes.
PerformanceParse readPlugin(const uint8_t* payload, size_t length, PerformanceImage& image) {
    if (length < 2)
        return PerformanceParse::Inconsistent;
    const uint8_t position = payload[0];
    const uint8_t bypass = payload[1];
    if (position >= kPerformancePositions || bypass > 1 || image.positions[position].occupied)
        return PerformanceParse::Inconsistent;
    PerformancePosition p{};
    const uint8_t* at = payload + 2;
    size_t remaining = length - 2;
    if (!readShortText(at, remaining, p.format, sizeof p.format) || !p.format[0] ||
        !readShortText(at, remaining, p.classId, sizeof p.classId) || remaining < 2)
        return PerformanceParse::Inconsistent;
    const size_t pathBytes = get16(at);
    if (pathBytes == 0 || pathBytes > remaining - 2 || !pathBytesFit(at + 2, pathBytes))
        return PerformanceParse::Inconsistent;
    copyPath(p.path, at + 2, pathBytes);
    at += 2 + pathBytes;
    remaining -= 2 + pathBytes;
    if (remaining < 4 || get32(at) != remaining - 4 || remaining - 4 > kMaxPluginStateBytes)
        return PerformanceParse::Inconsistent;
    p.occupied = true;
    p.bypass = bypass;
    p.state = at + 4;
    p.stateSize = uint32_t(remaining - 4);
    image.positions[position] = p;
    return PerformanceParse::Ok;
}

// "ownp": one byte, bit N set when position N runs in a process of its own. The
// positions named must hold a plug-in; that is checked once every record is read.
PerformanceParse readOwnProcess(const uint8_t* payload, size_t length, bool& seen, uint8_t& positions) {
    if (seen || length != kOwnProcessBytes || payload[0] == 0)
        return PerformanceParse::Inconsistent;
    seen = true;
    positions = payload[0];
    return PerformanceParse::Ok;
}

uint8_t ownProcessPositions(const PerformanceImage& image) {
    uint8_t positions = 0;
    for (int position = 0; position < kPerformancePositions; ++position)
        if (image.positions[position].occupied && image.positions[position].ownProcess)
            positions = uint8_t(positions | 1u << position);
    return positions;
}

// Records whose tag begins with a capital letter must be understood; others may be
// skipped by a reader that does not know them.
bool isCritical(const uint8_t* tag) { return tag[0] >= 'A' && tag[0] <= 'Z'; }

// "midi": the bindings text, once, within its cap; its words are the loader's to read.
PerformanceParse readBindings(const uint8_t* payload, size_t length, PerformanceImage& image) {
    if (image.bindings || length == 0 || length > kMaxPerformanceBindingsBytes)
        return PerformanceParse::Inconsistent;
    image.bindings = reinterpret_cast<const char*>(payload);
    image.bindingsSize = uint32_t(length);
    return PerformanceParse::Ok;
}

PerformanceParse readRecords(const uint8_t* at, size_t remaining, PerformanceImage& image) {
    bool accompanimentSeen = false;
    bool ownProcessSeen = false;
    uint8_t ownProcess = 0;
    while (remaining > 0) {
        if (remaining < kRecordHeader)
            return PerformanceParse::Inconsistent;
        const size_t length = get32(at + 4);
        if (length > remaining - kRecordHeader)
            return PerformanceParse::Inconsistent;
        const uint8_t* payload = at + kRecordHeader;
        PerformanceParse result = PerformanceParse::Ok;
        if (tagIs(at, "ACMP"))
            result = readAccompaniment(payload, length, accompanimentSeen, image);
        else if (tagIs(at, "SLOT"))
            result = readSlot(payload, length, image);
        else if (tagIs(at, "PLUG"))
            result = readPlugin(payload, length, image);
        else if (tagIs(at, "midi"))
            result = readBindings(payload, length, image);
        else if (tagIs(at, "ownp"))
            result = readOwnProcess(payload, length, ownProcessSeen, ownProcess);
        else if (isCritical(at))
            result = PerformanceParse::Inconsistent;
        if (result != PerformanceParse::Ok)
            return result;
        at += kRecordHeader + length;
        remaining -= kRecordHeader + length;
    }
    for (int position = 0; position < kPerformancePositions; ++position) {
        if (!(ownProcess & 1u << position))
            continue;
        if (!image.positions[position].occupied)
            return PerformanceParse::Inconsistent;  // an empty position has no process
        image.positions[position].ownProcess = true;
    }
    return PerformanceParse::Ok;
}

size_t slotRecordSize(const PerformancePosition& p) {
    if (!isSlotFormat(p))
        return kRecordHeader + 2 + 1 + textLength(p.format, sizeof p.format) + 1 +
               textLength(p.classId, sizeof p.classId) + 2 + pathLength(p.path) + 4 + p.stateSize;
    return kRecordHeader + kSlotFixedBytes + pathLength(p.path) + p.stateSize;
}

uint8_t* writeShortText(uint8_t* at, const char* text, size_t field) {
    const size_t length = textLength(text, field);
    at[0] = uint8_t(length);
    std::memcpy(at + 1, text, length);
    return at + 1 + length;
}

}  // namespace

bool isSlotFormat(const PerformancePosition& position) {
    return !position.format[0] ||
           std::strncmp(position.format, kPerformanceSlotFormat, sizeof position.format) == 0;
}

void writeStateRecordHeader(uint8_t* out, StateForm form, uint32_t amount) {
    std::memcpy(out, form == StateForm::Chunk ? "CHUNK" : "PARAM", 5);
    put32(out + 5, amount);
}

void writeStateParameter(uint8_t* out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    put32(out, bits);
}

void writeChunkRecord(uint8_t* out, const void* chunk, uint32_t chunkBytes) {
    writeStateRecordHeader(out, StateForm::Chunk, chunkBytes);
    if (chunkBytes)
        std::memcpy(out + 9, chunk, chunkBytes);
}

void writeParameterRecord(uint8_t* out, const float* values, int32_t count) {
    writeStateRecordHeader(out, StateForm::Parameters, uint32_t(count));
    for (int32_t i = 0; i < count; ++i)
        writeStateParameter(out + 9 + 4 * size_t(i), values[i]);
}

bool readStateRecord(const uint8_t* record, size_t size, StateView& view) {
    if (size < kStateRecordHeader)
        return false;
    const uint32_t amount = get32(record + 5);
    view.data = record + kStateRecordHeader;
    const size_t rest = size - kStateRecordHeader;
    if (std::memcmp(record, "CHUNK", 5) == 0) {
        if (amount > kMaxChunkBytes || amount != rest)
            return false;
        view.form = StateForm::Chunk;
        view.chunkBytes = amount;
        view.count = 0;
        return true;
    }
    if (std::memcmp(record, "PARAM", 5) == 0) {
        if (amount > uint32_t(kMaxStateParameters) || size_t(amount) * 4 != rest)
            return false;
        view.form = StateForm::Parameters;
        view.chunkBytes = 0;
        view.count = int32_t(amount);
        return true;
    }
    return false;
}

float parameterAt(const StateView& view, int32_t index) {
    const uint32_t bits = get32(view.data + 4 * size_t(index));
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

void writeStateBlobTag(uint8_t* out) { std::memcpy(out, "VSTWRAP_", kStateBlobTagSize); }

uint8_t* writeStateSection(uint8_t* out, const char* path, size_t pathLength, const uint8_t* record,
                           size_t recordSize, uint8_t reserved) {
    std::memcpy(out, "PLUG", 4);
    put16(out + 4, uint16_t(pathLength));
    std::memcpy(out + 6, path, pathLength);
    out += 6 + pathLength;
    put32(out, uint32_t(recordSize));
    std::memcpy(out + 4, record, recordSize);
    out += 4 + recordSize;
    std::memcpy(out, "DATA", 4);
    put32(out + 4, 1);
    out[8] = reserved;
    return out + 9;
}

PerformanceParse parsePerformance(const uint8_t* data, size_t size, PerformanceImage& image) {
    std::memset(&image, 0, sizeof image);
    if (size < sizeof kMagic || std::memcmp(data, kMagic, sizeof kMagic) != 0)
        return PerformanceParse::NotAPerformance;
    if (size < kPerformanceHeaderSize)
        return PerformanceParse::Truncated;
    const uint16_t version = get16(data + 8);
    if (version > kPerformanceFileVersion)
        return PerformanceParse::NewerVersion;
    if (version == 0 || get16(data + 10) != 0)
        return PerformanceParse::Inconsistent;
    if (size > kMaxPerformanceFileBytes)
        return PerformanceParse::TooLarge;
    const size_t body = get32(data + 12);
    const size_t rest = size - kPerformanceHeaderSize;
    if (rest < kPerformanceChecksumSize || body > rest - kPerformanceChecksumSize)
        return PerformanceParse::Truncated;
    if (body != rest - kPerformanceChecksumSize)
        return PerformanceParse::Inconsistent;  // bytes after the checksum
    if (performanceChecksum(data, kPerformanceHeaderSize + body) != get32(data + kPerformanceHeaderSize + body))
        return PerformanceParse::BadChecksum;
    const PerformanceParse result = readRecords(data + kPerformanceHeaderSize, body, image);
    if (result != PerformanceParse::Ok)
        std::memset(&image, 0, sizeof image);
    return result;
}

const char* describePerformanceParse(PerformanceParse result) {
    switch (result) {
    case PerformanceParse::Ok: return "";
    case PerformanceParse::NotAPerformance: return "The file is not a Talvenor Live performance.";
    case PerformanceParse::NewerVersion: return "The file was written by a newer version of Talvenor Live.";
    case PerformanceParse::Truncated: return "The file is shorter than its header says: it was cut off.";
    case PerformanceParse::BadChecksum: return "The file's checksum does not match: it was damaged.";
    case PerformanceParse::Inconsistent: return "The file's contents do not hold together.";
    case PerformanceParse::TooLarge: return "The file is larger than any performance can be.";
    }
    return "";
}

size_t performanceFileSize(const PerformanceImage& image) {
    if (pathLength(image.accompaniment) >= size_t(kPerformancePathSize))
        return 0;
    size_t total = kPerformanceHeaderSize + kRecordHeader + pathLength(image.accompaniment) + kPerformanceChecksumSize;
    for (const PerformancePosition& p : image.positions) {
        if (!p.occupied)
            continue;
        StateView view;
        const size_t length = pathLength(p.path);
        if (length == 0 || length >= size_t(kPerformancePathSize) || p.bypass > 1 || !p.state)
            return 0;
        if (isSlotFormat(p) ? !readStateRecord(p.state, p.stateSize, view)
                            : p.stateSize > kMaxPluginStateBytes ||
                                  textLength(p.format, sizeof p.format) >= sizeof p.format ||
                                  textLength(p.classId, sizeof p.classId) >= sizeof p.classId)
            return 0;
        total += slotRecordSize(p);
    }
    if (image.bindingsSize > 0) {
        if (!image.bindings || image.bindingsSize > kMaxPerformanceBindingsBytes)
            return 0;
        total += kRecordHeader + image.bindingsSize;
    }
    if (ownProcessPositions(image))
        total += kRecordHeader + kOwnProcessBytes;
    return total <= kMaxPerformanceFileBytes ? total : 0;
}

bool writePerformance(const PerformanceImage& image, uint8_t* out, size_t size) {
    if (size == 0 || performanceFileSize(image) != size)
        return false;
    std::memcpy(out, kMagic, sizeof kMagic);
    put16(out + 8, kPerformanceFileVersion);
    put16(out + 10, 0);
    const size_t body = size - kPerformanceHeaderSize - kPerformanceChecksumSize;
    put32(out + 12, uint32_t(body));
    uint8_t* at = out + kPerformanceHeaderSize;
    const size_t accompaniment = pathLength(image.accompaniment);
    std::memcpy(at, "ACMP", 4);
    put32(at + 4, uint32_t(accompaniment));
    std::memcpy(at + kRecordHeader, image.accompaniment, accompaniment);
    at += kRecordHeader + accompaniment;
    for (int position = 0; position < kPerformancePositions; ++position) {
        const PerformancePosition& p = image.positions[position];
        if (!p.occupied)
            continue;
        const size_t length = pathLength(p.path);
        if (!isSlotFormat(p)) {
            std::memcpy(at, "PLUG", 4);
            put32(at + 4, uint32_t(slotRecordSize(p) - kRecordHeader));
            uint8_t* field = at + kRecordHeader;
            field[0] = uint8_t(position);
            field[1] = p.bypass;
            field = writeShortText(field + 2, p.format, sizeof p.format);
            field = writeShortText(field, p.classId, sizeof p.classId);
            put16(field, uint16_t(length));
            std::memcpy(field + 2, p.path, length);
            put32(field + 2 + length, p.stateSize);
            std::memcpy(field + 6 + length, p.state, p.stateSize);
            at += slotRecordSize(p);
            continue;
        }
        std::memcpy(at, "SLOT", 4);
        put32(at + 4, uint32_t(slotRecordSize(p) - kRecordHeader));
        at[8] = uint8_t(position);
        at[9] = p.bypass;
        put16(at + 10, uint16_t(length));
        std::memcpy(at + 12, p.path, length);
        put32(at + 12 + length, p.stateSize);
        std::memcpy(at + 16 + length, p.state, p.stateSize);
        at += slotRecordSize(p);
    }
    if (image.bindingsSize > 0) {
        std::memcpy(at, "midi", 4);
        put32(at + 4, image.bindingsSize);
        std::memcpy(at + kRecordHeader, image.bindings, image.bindingsSize);
        at += kRecordHeader + image.bindingsSize;
    }
    if (const uint8_t positions = ownProcessPositions(image)) {
        std::memcpy(at, "ownp", 4);
        put32(at + 4, uint32_t(kOwnProcessBytes));
        at[kRecordHeader] = positions;
        at += kRecordHeader + kOwnProcessBytes;
    }
    put32(at, performanceChecksum(out, size - kPerformanceChecksumSize));
    return true;
}

uint32_t performanceChecksum(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
