#pragma once
#include <algorithm>
#include <cmath>
#include <vector>

// One step of a 16-bit sample as a float (full scale 32767 steps).
constexpr float kStep16 = 3.0518509e-05f;

// The two live channels of a block of the chain, as the deck is handed them.
struct LiveChannels {
    std::vector<float> live[2];
    float* channels[2];

    explicit LiveChannels(int frames = 1024) {
        for (int ch = 0; ch < 2; ++ch) {
            live[ch].assign(size_t(frames), 0.0f);
            channels[ch] = live[ch].data();
        }
    }
    LiveChannels(const LiveChannels&) = delete;
    LiveChannels& operator=(const LiveChannels&) = delete;

    void silence() {
        for (auto& c : live)
            std::fill(c.begin(), c.end(), 0.0f);
    }
    // The frame number a counting file (WaveBuilder::counting) put into live sample i
    // of channel 0.
    int frameAt(int i) const { return int(std::lround(live[0][i] / kStep16)); }
};
