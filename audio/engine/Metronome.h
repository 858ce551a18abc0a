#pragma once
#include <cstdint>

// Adds the recorded click to the live channels at the set tempo. The click is
// played sample for sample at the driver's rate, without rate conversion; a click
// longer than a beat is cut off by the next beat.
class Metronome {
public:
    Metronome() = default;
    virtual ~Metronome() = default;

    // Start-up: the click's 16-bit mono samples and their size in bytes (the
    // program's resource). Null or zero leaves the metronome silent.
    void setClick(const int16_t* samples, uint32_t sizeBytes);
    bool hasClick() const { return click_ && clickSamples_ > 0; }

    // Start of live input: the first click starts with the first processed sample.
    void resetMetronome();

    // Driver thread, once per sub-block: adds into both live buffers whatever the
    // channel count. tempo is in hundredths of a beat per minute.
    void mixClick(float* const* channels, int32_t frames, double sampleRate, bool enabled, int32_t tempo);

    int32_t beatCounter() const { return beatCounter_; }
    int32_t clickPosition() const { return clickPosition_; }

private:
    const int16_t* click_ = nullptr;
    int32_t clickSamples_ = 0;
    int32_t beatCounter_ = 0;
    int32_t clickPosition_ = -1;  // next click sample to play; -1 before the first reset
};

// The Audio Settings dialog's tempo entry, as pure conversions. Tempo values are
// hundredths of a beat per minute, 6000 to 20000.
int32_t tempoFromTrackbar(int32_t position);        // trackbar 0..1000
int32_t trackbarFromTempo(int32_t tempo);
// The edit field's text: "%.1f" of beats per minute. size must be at least 16.
void tempoToText(int32_t tempo, char* text, int size);
// Read as a decimal number of beats per minute; anything unreadable gives 6000.
int32_t tempoFromText(const char* text);
