#include "TunerFace.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

const double kPi = 3.14159265358979;
const double kScaleDegrees = 45.0;  // either side of upright, at 50 cents
// The scale's pivot lies below the well, so that the arc is a shallow sweep.
const int kPivotX = 227;
const int kPivotY = 168;
const int kScaleRadius = 118;
const int kLampY = 134;

const COLORREF kWell = RGB(7, 7, 12);
const COLORREF kEdgeLight = RGB(52, 52, 72);
const COLORREF kLabel = RGB(150, 150, 185);
const COLORREF kLabelDim = RGB(95, 95, 125);
const COLORREF kText = RGB(230, 230, 255);
const COLORREF kAmber = RGB(255, 168, 40);
const COLORREF kGreen = RGB(15, 234, 78);
const COLORREF kGreenUnlit = RGB(18, 64, 34);
const COLORREF kRed = RGB(255, 78, 43);
const COLORREF kRedUnlit = RGB(70, 28, 24);

POINT onScale(double degrees, double radius) {
    const double a = degrees * kPi / 180.0;
    return POINT{LONG(std::lround(kPivotX + radius * std::sin(a))), LONG(std::lround(kPivotY - radius * std::cos(a)))};
}

double degreesOf(double cents) { return cents / 50.0 * kScaleDegrees; }

void line(HDC dc, POINT from, POINT to, COLORREF colour, int width) {
    HPEN pen = CreatePen(PS_SOLID, width, colour);
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, from.x, from.y, nullptr);
    LineTo(dc, to.x, to.y);
    SelectObject(dc, old);
    DeleteObject(pen);
}

void polygon(HDC dc, const POINT* points, int count, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    Polygon(dc, points, count);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

void lamp(HDC dc, int x, int y, int radius, COLORREF colour, bool lit) {
    if (lit) {
        // A soft halo, as a lit LED behind its lens.
        const COLORREF halo = RGB(GetRValue(colour) / 4, GetGValue(colour) / 4, GetBValue(colour) / 4);
        HBRUSH glow = CreateSolidBrush(halo);
        HPEN none = CreatePen(PS_NULL, 0, 0);
        HGDIOBJ oldBrush = SelectObject(dc, glow);
        HGDIOBJ oldPen = SelectObject(dc, none);
        Ellipse(dc, x - radius - 4, y - radius - 4, x + radius + 5, y + radius + 5);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(none);
        DeleteObject(glow);
    }
    HBRUSH brush = CreateSolidBrush(colour);
    HPEN rim = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, rim);
    Ellipse(dc, x - radius, y - radius, x + radius + 1, y + radius + 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(rim);
    DeleteObject(brush);
}

void text(HDC dc, const char* s, RECT area, HFONT font, COLORREF colour, UINT format) {
    HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(dc, colour);
    DrawTextA(dc, s, -1, &area, format | DT_NOPREFIX | DT_SINGLELINE);
    SelectObject(dc, old);
}

void paintWell(HDC dc) {
    RECT well = kTunerFaceRect;
    HBRUSH brush = CreateSolidBrush(kWell);
    FillRect(dc, &well, brush);
    DeleteObject(brush);
    // Recessed: dark above and left, the panel's light edge below and right.
    line(dc, POINT{well.left, well.bottom - 1}, POINT{well.left, well.top}, RGB(0, 0, 0), 1);
    line(dc, POINT{well.left, well.top}, POINT{well.right - 1, well.top}, RGB(0, 0, 0), 1);
    line(dc, POINT{well.right - 1, well.top}, POINT{well.right - 1, well.bottom - 1}, kEdgeLight, 1);
    line(dc, POINT{well.left, well.bottom - 1}, POINT{well.right, well.bottom - 1}, kEdgeLight, 1);
    // A faint divider between the note and the meter.
    line(dc, POINT{124, well.top + 12}, POINT{124, well.bottom - 12}, RGB(28, 28, 40), 1);
}

void paintNote(HDC dc, const TunerDisplay& display, const TunerFaceText& face, const TunerFaceFonts& fonts) {
    const COLORREF noteColour = display.showing ? kText : kLabelDim;
    // The name and its octave as one group, centred over the column.
    SIZE name{0, 0}, octave{0, 0};
    HGDIOBJ old = SelectObject(dc, fonts.note);
    GetTextExtentPoint32A(dc, face.note, int(std::strlen(face.note)), &name);
    SelectObject(dc, fonts.octave);
    if (face.octave[0]) GetTextExtentPoint32A(dc, face.octave, int(std::strlen(face.octave)), &octave);
    SelectObject(dc, old);
    const int left = 16 + (108 - int(name.cx + octave.cx)) / 2;
    text(dc, face.note, RECT{left, 16, left + name.cx, 90}, fonts.note, noteColour, DT_LEFT | DT_BOTTOM);
    if (face.octave[0])
        text(dc, face.octave, RECT{left + name.cx, 16, left + name.cx + octave.cx + 2, 84}, fonts.octave, kLabel,
             DT_LEFT | DT_BOTTOM);
    text(dc, face.frequency, RECT{14, 96, 122, 116}, fonts.figures, display.showing ? kLabel : kLabelDim, DT_CENTER);
    text(dc, face.cents, RECT{14, 118, 122, 138}, fonts.figures, kAmber, DT_CENTER);
}

void paintScale(HDC dc, const TunerDisplay& display, const TunerFaceFonts& fonts) {
    const bool inTune = display.showing && std::fabs(display.note.cents) <= kInTuneCents;
    // The in-tune zone: a band on the arc, lit while the note is within it.
    const double zone = degreesOf(kInTuneCents);
    const POINT band[4] = {onScale(-zone, kScaleRadius - 16), onScale(-zone, kScaleRadius + 2),
                           onScale(zone, kScaleRadius + 2), onScale(zone, kScaleRadius - 16)};
    polygon(dc, band, 4, inTune ? kGreen : kGreenUnlit);
    // The arc, then a tick every 5 cents, long at every 25.
    for (int c = -50; c < 50; ++c)
        line(dc, onScale(degreesOf(c), kScaleRadius), onScale(degreesOf(c + 1), kScaleRadius), kLabelDim, 1);
    for (int c = -50; c <= 50; c += 5) {
        const bool major = c % 25 == 0;
        const double d = degreesOf(c);
        line(dc, onScale(d, kScaleRadius), onScale(d, kScaleRadius - (major ? 12 : 6)), major ? kLabel : kLabelDim,
             major ? 2 : 1);
        if (!major) continue;
        char label[8];
        std::snprintf(label, sizeof label, c > 0 ? "+%d" : "%d", c);
        const POINT at = onScale(d, kScaleRadius + 10);
        text(dc, label, RECT{at.x - 16, at.y - 7, at.x + 16, at.y + 7}, fonts.scale, kLabel, DT_CENTER | DT_VCENTER);
    }
    // Flat, in tune, sharp.
    const bool flat = display.showing && display.note.cents < -kInTuneCents;
    const bool sharp = display.showing && display.note.cents > kInTuneCents;
    const POINT flatLamp[3] = {{kPivotX - 44, kLampY - 5}, {kPivotX - 34, kLampY}, {kPivotX - 44, kLampY + 5}};
    const POINT sharpLamp[3] = {{kPivotX + 44, kLampY - 5}, {kPivotX + 34, kLampY}, {kPivotX + 44, kLampY + 5}};
    polygon(dc, flatLamp, 3, flat ? kRed : kRedUnlit);
    polygon(dc, sharpLamp, 3, sharp ? kRed : kRedUnlit);
    lamp(dc, kPivotX, kLampY, 4, inTune ? kGreen : kGreenUnlit, inTune);
    if (!display.showing) return;
    // The needle, from the reading's cents, with its shadow.
    const double d = tunerNeedleAngle(display.note.cents);
    line(dc, onScale(d, 44), onScale(d, kScaleRadius + 4), RGB(60, 40, 10), 5);
    line(dc, onScale(d, 44), onScale(d, kScaleRadius + 4), inTune ? kGreen : kAmber, 2);
}

}  // namespace

void describeTunerFace(const TunerDisplay& display, TunerFaceText* face) {
    if (!display.showing) {
        std::snprintf(face->note, sizeof face->note, "-");
        face->octave[0] = '\0';
        std::snprintf(face->frequency, sizeof face->frequency, "- Hz");
        face->cents[0] = '\0';
        return;
    }
    std::snprintf(face->note, sizeof face->note, "%s", display.note.name);
    std::snprintf(face->octave, sizeof face->octave, "%d", display.note.octave);
    std::snprintf(face->frequency, sizeof face->frequency, "%.2f Hz", display.frequency);
    std::snprintf(face->cents, sizeof face->cents, "%+.1f cents", display.note.cents);
}

double tunerNeedleAngle(double cents) {
    if (!(cents > -50.0)) return -kScaleDegrees;  // NaN parks the needle too
    if (cents > 50.0) return kScaleDegrees;
    return degreesOf(cents);
}

bool TunerFaceFonts::create() {
    release();
    auto make = [](int height, int weight) {
        return CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS, "Tahoma");
    };
    note = make(64, FW_BOLD);
    octave = make(26, FW_BOLD);
    figures = make(13, FW_BOLD);
    scale = make(10, FW_NORMAL);
    return note && octave && figures && scale;
}

void TunerFaceFonts::release() {
    for (HFONT* font : {&note, &octave, &figures, &scale}) {
        if (*font) DeleteObject(*font);
        *font = nullptr;
    }
}

void paintTunerFace(HDC dc, const TunerDisplay& display, const TunerFaceFonts& fonts) {
    TunerFaceText face;
    describeTunerFace(display, &face);
    const int saved = SaveDC(dc);
    SetBkMode(dc, TRANSPARENT);
    paintWell(dc);
    const RECT well = kTunerFaceRect;
    IntersectClipRect(dc, well.left + 1, well.top + 1, well.right - 1, well.bottom - 1);
    paintNote(dc, display, face, fonts);
    paintScale(dc, display, fonts);
    RestoreDC(dc, saved);
}
