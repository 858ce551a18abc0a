#pragma once
#include <cstdint>

#include "FormatRecord.h"
#include "RiffFile.h"

// A direct take's header states its sizes as of the last time the recorder brought
// them up to date. A take cut off by a crash, a killed process or a power cut holds
// more than that (or, after a power cut, less): repairing it makes the header state
// the whole frames the file really holds. Only a take of ours is touched: the 44-byte
// header the recorder writes, PCM of 16 or 24 bits, one or two channels.
enum class TakeRepairResult {
    notOurs,   // no such header (or too short for one): left as it is
    intact,    // the header already states what the file holds
    repaired,  // the header was rewritten
    failed,    // it could not be rewritten
};

struct TakeRepair {
    TakeRepairResult result;
    FormatRecord format;  // valid unless notOurs
    uint32_t dataBytes;   // the sample bytes the header states afterwards
};

// fileSize is the file's real length (beyond 4 GiB a RIFF file cannot address).
TakeRepair repairTake(RiffFile& file, uint64_t fileSize);
