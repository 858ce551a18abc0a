#include "TakeRepair.h"

#include <cstring>

#include "LittleEndian.h"

#include "RecordingFormat.h"

namespace {


// The recorder's own header, and nothing else: its tags where it writes them, a plain
// PCM format whose fields agree.
bool readOurHeader(const uint8_t* h, FormatRecord& format) {
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVEfmt ", 8) != 0 || little32(h + 16) != 16 ||
        std::memcmp(h + 36, "data", 4) != 0)
        return false;
    format = FormatRecord{};
    format.formatTag = little16(h + 20);
    format.channels = little16(h + 22);
    format.samplesPerSec = little32(h + 24);
    format.avgBytesPerSec = little32(h + 28);
    format.blockAlign = little16(h + 32);
    format.bitsPerSample = little16(h + 34);
    return format.formatTag == kFormatPcm && (format.channels == 1 || format.channels == 2) &&
           (format.bitsPerSample == 16 || format.bitsPerSample == 24) && format.samplesPerSec > 0 &&
           format.blockAlign == format.channels * format.bitsPerSample / 8 &&
           uint64_t(format.avgBytesPerSec) == uint64_t(format.blockAlign) * format.samplesPerSec;
}

}  // namespace

TakeRepair repairTake(RiffFile& file, uint64_t fileSize) {
    TakeRepair repair{TakeRepairResult::notOurs, FormatRecord{}, 0};
    uint8_t header[kWaveHeaderBytes];
    if (fileSize < kWaveHeaderBytes || file.seek(0, SeekFrom::Start) != 0 ||
        file.read(header, kWaveHeaderBytes) != int32_t(kWaveHeaderBytes) || !readOurHeader(header, repair.format))
        return repair;

    // The whole frames in the file, as many as a header can state.
    const uint16_t align = repair.format.blockAlign;
    uint64_t held = fileSize - kWaveHeaderBytes;
    const uint32_t most = maxTakeDataBytes(align);
    if (held > most)
        held = most;
    const uint32_t present = uint32_t(held - held % align);
    const uint32_t stated = little32(header + 40);
    if (stated == present && little32(header + 4) == present + 36) {
        repair.result = TakeRepairResult::intact;
        repair.dataBytes = present;
        return repair;
    }
    buildWaveHeader(repair.format, present, header);
    if (file.seek(0, SeekFrom::Start) != 0 || file.write(header, kWaveHeaderBytes) != int32_t(kWaveHeaderBytes) ||
        !file.flushToDisk()) {
        repair.result = TakeRepairResult::failed;
        repair.dataBytes = stated;
        return repair;
    }
    repair.result = TakeRepairResult::repaired;
    repair.dataBytes = present;
    return repair;
}
