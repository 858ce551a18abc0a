#include "ErrorFlags.h"

#include <atomic>

namespace {
std::atomic<uint32_t> g_errorFlags{0};
}

void raiseErrorFlag(uint32_t bits) { g_errorFlags.fetch_or(bits, std::memory_order_acq_rel); }

void clearErrorFlag(uint32_t bits) { g_errorFlags.fetch_and(~bits, std::memory_order_acq_rel); }

bool takeErrorFlag(uint32_t bits) {
    return (g_errorFlags.fetch_and(~bits, std::memory_order_acq_rel) & bits) != 0;
}

uint32_t errorFlags() { return g_errorFlags.load(std::memory_order_acquire); }
