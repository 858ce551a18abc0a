#pragma once
// The tuner's display: the note and its octave large, the frequency and the cents
// below it, and a needle over a -50..+50 cent scale whose in-tune zone (within
// kInTuneCents) lights green, with flat, in-tune and sharp lamps. Painted whole
// into a memory bitmap, so a new reading never flickers.
#include "WinInclude.h"

#include "TunerTracker.h"

constexpr double kInTuneCents = 2.0;
// The display's well inside the tuner window's client area.
constexpr RECT kTunerFaceRect = {10, 10, 330, 148};

// What the display shows, as text (for the paint and for tests).
struct TunerFaceText {
    char note[4];        // "E", "C#", or "-" when no note is heard
    char octave[4];      // "2", or empty
    char frequency[24];  // "82.41 Hz", or "- Hz"
    char cents[24];      // "+7.9 cents", or empty
};
void describeTunerFace(const TunerDisplay& display, TunerFaceText* text);

// The needle's angle in degrees from upright for a reading's cents (+-45 at the
// scale's ends, beyond them it stays there).
double tunerNeedleAngle(double cents);

// The fonts the display draws with, made once per window.
struct TunerFaceFonts {
    HFONT note = nullptr;
    HFONT octave = nullptr;
    HFONT figures = nullptr;
    HFONT scale = nullptr;
    bool create();
    void release();
};

// Paints the display into dc at kTunerFaceRect (dc is the window's memory bitmap).
void paintTunerFace(HDC dc, const TunerDisplay& display, const TunerFaceFonts& fonts);
