// Any bytes as a performance file: the parser refuses them or returns positions
// whose paths and states lie inside the bytes and read back; what it accepted is
// written again and reads back the same. Every input is also tried with its header
// length and checksum made right, so that the fuzzer reaches the records behind the
// checksum.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "PerformanceFormat.h"

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

void checkAccepted(const uint8_t* data, size_t size, const PerformanceImage& image) {
    require(std::memchr(image.accompaniment, 0, sizeof image.accompaniment) != nullptr);
    for (const PerformancePosition& p : image.positions) {
        if (!p.occupied)
            continue;
        const size_t length = strnlen(p.path, sizeof p.path);
        require(length > 0 && length < sizeof p.path);
        require(p.bypass <= 1);
        require(p.state >= data && p.stateSize <= size && p.state + p.stateSize <= data + size);
        // A VST 2 position holds a state record; another format's state is its own bytes.
        require(std::memchr(p.format, 0, sizeof p.format) != nullptr);
        require(std::memchr(p.classId, 0, sizeof p.classId) != nullptr);
        if (!isSlotFormat(p)) {
            require(p.stateSize <= kMaxPluginStateBytes);
            continue;
        }
        StateView view;
        require(readStateRecord(p.state, p.stateSize, view));
        if (view.form == StateForm::Parameters && view.count > 0) {
            volatile float last = parameterAt(view, view.count - 1);
            (void)last;
        }
    }
    // Written again, it reads back as the same performance.
    const size_t again = performanceFileSize(image);
    require(again > 0);
    std::vector<uint8_t> file(again);
    require(writePerformance(image, file.data(), file.size()));
    PerformanceImage reread;
    require(parsePerformance(file.data(), file.size(), reread) == PerformanceParse::Ok);
    require(std::strcmp(reread.accompaniment, image.accompaniment) == 0);
    for (int i = 0; i < kPerformancePositions; ++i) {
        const PerformancePosition& a = image.positions[i];
        const PerformancePosition& b = reread.positions[i];
        require(a.occupied == b.occupied);
        if (!a.occupied)
            continue;
        require(a.bypass == b.bypass && std::strcmp(a.path, b.path) == 0 && a.stateSize == b.stateSize);
        require(std::strcmp(a.format, b.format) == 0);
        require(isSlotFormat(a) || std::strcmp(a.classId, b.classId) == 0);
        require(std::memcmp(a.state, b.state, a.stateSize) == 0);
    }
}

void tryParse(const uint8_t* data, size_t size) {
    PerformanceImage image;
    if (parsePerformance(data, size, image) == PerformanceParse::Ok)
        checkAccepted(data, size, image);
    else
        require(image.positions[0].occupied == false && image.accompaniment[0] == '\0');
}

void put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = uint8_t(v >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly sized copies, so that a read past the end is seen by the sanitizer.
    std::vector<uint8_t> raw(data, data + size);
    tryParse(raw.data(), raw.size());
    if (size >= kPerformanceHeaderSize + kPerformanceChecksumSize) {
        std::vector<uint8_t> sealed(data, data + size);
        put32(sealed.data() + 12, uint32_t(size - kPerformanceHeaderSize - kPerformanceChecksumSize));
        put32(sealed.data() + size - 4, performanceChecksum(sealed.data(), size - 4));
        tryParse(sealed.data(), sealed.size());
    }
    return 0;
}
