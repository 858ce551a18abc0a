// Any bytes as an accompaniment file: the parser either refuses them or accepts a
// layout that holds together, and playing what it accepted (looping, seeking, at
// several rates) stays inside every buffer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AccompanimentMix.h"
#include "ErrorFlags.h"
#include "MemoryRiffFile.h"
#include "WaveParser.h"

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DeckBuffers buffers;
    static float live[2][1024];
    float* channels[2] = {live[0], live[1]};

    auto* file = new MemoryRiffFile(std::vector<uint8_t>(data, data + size));
    WaveLayout layout{};
    if (parseWave(*file, uint32_t(size), layout) != WaveOpenResult::Ok) {
        delete file;
        return 0;
    }
    const FormatRecord format = layout.format;
    require(format.blockAlign > 0 && format.channels >= 1 && format.channels <= 2);
    require(layout.dataBytes > 0 && layout.dataBytes % format.blockAlign == 0);
    require(uint64_t(layout.dataOffset) + layout.dataBytes <= size);
    require(file->position() == layout.dataOffset);

    WaveFileState state;
    state.attach(file, layout);

    // Common live rates, and rates far from the file's own: a file at eight times the
    // live rate fills the most bytes per block, one far below it the fewest.
    const float fileRate = float(format.samplesPerSec);
    const float rates[6] = {8000.0f, 44100.0f, 48000.0f, 192000.0f, fileRate / 8.0f, fileRate * 3.0f};
    const int32_t frames[4] = {1, 256, 1000, 1024};
    for (int block = 0; block < 8; ++block) {
        if (block == 4) {  // a seek to the middle, as the navigation bar would ask
            const uint32_t target = layout.dataBytes / format.blockAlign / 2 * format.blockAlign;
            state.seekTarget = target;
            state.seekPending.store(true);
        }
        const bool ok = mixAccompanimentFrom(state, buffers, true, channels, 1 + block % 2, frames[(size + block) % 4],
                                             rates[(size / 4 + block) % 6], 1.0f);
        require(ok);  // the bytes are all there: nothing may fail
        require(state.readPosition < state.dataBytes && state.readPosition % format.blockAlign == 0);
    }
    takeErrorFlag(kFlagAccompReadError);
    delete file;
    return 0;
}
