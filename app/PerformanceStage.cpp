#include "PerformanceStage.h"

namespace {

FileOpenStage g_fileOpenStage;
PerformanceStage* g_stage = nullptr;

}  // namespace

PerformanceStage::~PerformanceStage() = default;
void PerformanceStage::expect(int, const char*, int, const char*) {}
void PerformanceStage::setTailSeconds(int) {}
bool PerformanceStage::spares(const EffectSlot*) const { return false; }
void PerformanceStage::positionsReplaced(const EffectSlot* const*, int) {}

FileOutcome FileOpenStage::bringOn(HWND frame, int, const char* loadPath, const char* name, char* detail,
                                   size_t detailSize) {
    return openPerformanceNamed(frame, loadPath, name, detail, detailSize);
}

PerformanceStage& performanceStage() { return g_stage ? *g_stage : g_fileOpenStage; }
void setPerformanceStage(PerformanceStage* stage) { g_stage = stage; }
