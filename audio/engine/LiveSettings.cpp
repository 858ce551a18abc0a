#include "LiveSettings.h"

LiveSettings::LiveSettings() {
    for (int i = 0; i < kPositions; ++i) {
        slots[i] = nullptr;
        bypass[i] = 0;
    }
}

LiveSettings::~LiveSettings() = default;
