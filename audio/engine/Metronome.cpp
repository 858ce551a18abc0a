#include "Metronome.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "LiveSettings.h"

void Metronome::setClick(const int16_t* samples, uint32_t sizeBytes) {
    click_ = samples;
    clickSamples_ = samples ? int32_t(sizeBytes / 2 > 0x7fffffffu ? 0x7fffffff : sizeBytes / 2) : 0;
}

void Metronome::resetMetronome() {
    beatCounter_ = 0;
    clickPosition_ = 0;
}

void Metronome::mixClick(float* const* channels, int32_t frames, double sampleRate, bool enabled,
                         int32_t tempo) {
    if (!enabled || !hasClick() || clickPosition_ < 0 || tempo <= 0)
        return;
    const double beat = std::floor(sampleRate * 6000.0 / tempo);
    // Below one sample per beat every sample starts a beat anyway; 1 keeps the spans moving.
    const int32_t samplesPerBeat = beat >= 2147483647.0 ? 2147483647 : beat < 1.0 ? 1 : int32_t(beat);
    const float kScale = 0.000030517578125f;  // 2^-15

    int32_t counter = 0;
    int32_t position = 0;
    // Both channels get the same click at the same sample; the state left after the
    // second one carries over to the next sub-block. Within one beat the click is a
    // plain run of samples, so the work goes in spans between beats.
    for (int ch = 0; ch < 2; ++ch) {
        counter = beatCounter_;
        position = clickPosition_;
        float* out = channels[ch];
        for (int32_t i = 0; i < frames;) {
            if (counter >= samplesPerBeat) {
                counter = 0;
                position = 0;
            }
            const int32_t toBeat = samplesPerBeat - counter;
            const int32_t span = toBeat < frames - i ? toBeat : frames - i;
            const int32_t left = clickSamples_ - position;
            const int32_t audible = left <= 0 ? 0 : left < span ? left : span;
            const int16_t* click = click_ + position;
            float* to = out + i;
            for (int32_t t = 0; t < audible; ++t)
                to[t] += float(click[t]) * kScale;
            position += audible;
            counter += span;
            i += span;
        }
    }
    beatCounter_ = counter;
    clickPosition_ = position;
}

int32_t tempoFromTrackbar(int32_t position) { return int32_t(position * 14000 * 0.001 + 6000); }

int32_t trackbarFromTempo(int32_t tempo) { return (tempo - LiveSettings::kMinTempo) * 1000 / 14000; }

void tempoToText(int32_t tempo, char* text, int size) { std::snprintf(text, size, "%.1f", tempo * 0.01); }

int32_t tempoFromText(const char* text) {
    const double hundredths = std::strtod(text, nullptr) * 100.0;
    // Clamped in double first: letters, "nan" and huge numbers must not reach an int.
    if (!(hundredths >= LiveSettings::kMinTempo))
        return LiveSettings::kMinTempo;
    if (hundredths >= LiveSettings::kMaxTempo)
        return LiveSettings::kMaxTempo;
    return int32_t(hundredths);
}
