#include "ServerCounts.h"

#include <atomic>

namespace {
std::atomic<long> inUse{0};
}

void serverCountUp() { ++inUse; }

void serverCountDown() { --inUse; }

bool serverIsIdle() { return inUse.load() == 0; }
