// The controls' pictures: the knob's 89 positions, the switch, the position thumb
// and the transport buttons.
#include "Art.h"
#include "Palette.h"

namespace {

// Brushed-metal sheen of a round cap: brightness follows the angle around the
// centre, as light catches the fine circular grain.
Rgb capSheen(float x, float y, float cx, float cy, Rgb dark, Rgb light) {
    const float phi = std::atan2(y - cy, x - cx);
    const float sheen = 0.5f + 0.5f * std::cos(2.0f * (phi + 0.75f));
    const float top = clamp01(0.5f - (y - cy) / 18.0f);
    return mix(dark, light, clamp01(0.25f + 0.45f * sheen * sheen + 0.3f * top));
}

}  // namespace

void drawKnob(Canvas& c, float cx, float cy, float size, float value, bool withArc) {
    const float s = size / 27.0f;
    const float start = -135.0f, end = 135.0f;
    const float angle = start + (end - start) * value;
    if (withArc) {
        // The scale: a dim track and the lit part up to the pointer.
        c.fill([=](float x, float y) { return arc(x, y, cx, cy, 12.2f * s, 0.85f * s, start, end); },
               rgb(48, 48, 66));
        if (value > 0.004f)
            c.fill([=](float x, float y) { return arc(x, y, cx, cy, 12.2f * s, 0.95f * s, start, angle); },
                   palette::accent);
    }
    // Shadow under the knob, falling down and right.
    c.fill([=](float x, float y) { return circle(x, y, cx + 0.5f * s, cy + 1.1f * s, 9.9f * s); }, rgb(0, 0, 0),
           0.55f);
    // Skirt: a ribbed outer ring lit from above, with a thin bright rim so its round
    // edge reads against the dark panel all the way round.
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 10.0f * s); }, rgb(96, 98, 118));
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 9.4f * s); },
           [=](float x, float y) {
               const float t = clamp01((y - (cy - 9.4f * s)) / (18.8f * s));
               const float rib = 0.5f + 0.5f * std::cos(std::atan2(y - cy, x - cx) * 24.0f);
               return scale(mix(rgb(138, 140, 158), rgb(52, 52, 66), t), 0.88f + 0.12f * rib);
           });
    // A dark line where the cap sits in the skirt.
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 7.6f * s); }, rgb(12, 12, 18));
    // The cap.
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 7.0f * s); },
           [=](float x, float y) { return capSheen(x, y, cx, cy, rgb(38, 38, 50), rgb(120, 122, 138)); });
    // The pointer: a white line from near the centre across the skirt.
    const float x0 = angleX(cx, 2.6f * s, angle), y0 = angleY(cy, 2.6f * s, angle);
    const float x1 = angleX(cx, 8.9f * s, angle), y1 = angleY(cy, 8.9f * s, angle);
    c.fill([=](float x, float y) { return capsule(x, y, x0 + 0.3f * s, y0 + 0.5f * s, x1 + 0.3f * s, y1 + 0.5f * s, 0.9f * s); },
           rgb(0, 0, 0), 0.5f);
    c.fill([=](float x, float y) { return capsule(x, y, x0, y0, x1, y1, 0.75f * s); }, rgb(246, 246, 255));
}

Canvas knobStrip() {
    const int frames = 89, size = 27;
    Canvas strip(frames * size, size, palette::panel);
    for (int i = 0; i < frames; ++i) {
        Canvas frame(size, size, palette::panel);
        drawKnob(frame, 13.5f, 13.5f, 27.0f, i / 88.0f, true);
        strip.paste(frame, i * size, 0);
    }
    return strip;
}

Canvas switchStates() {
    const int w = 33, h = 16;
    Canvas strip(2 * w, h, palette::panel);
    for (int on = 0; on < 2; ++on) {
        Canvas c(w, h, palette::panel);
        // A slide switch: the recessed slot, lit green when on, and a metal slider.
        c.fill([](float x, float y) { return roundedBox(x, y, 1.5f, 2.0f, 30.5f, 14.0f, 6.0f); }, rgb(60, 60, 80));
        c.fill([](float x, float y) { return roundedBox(x, y, 2.0f, 2.5f, 30.0f, 13.5f, 5.5f); },
               [on](float, float y) {
                   const Rgb base = on ? rgb(10, 150, 55) : palette::well;
                   return mix(scale(base, 0.55f), base, clamp01((y - 2.5f) / 9.0f));
               });
        if (on) c.glow([](float x, float y) { return roundedBox(x, y, 4.0f, 5.0f, 17.0f, 11.0f, 3.0f); },
                       palette::ledGreen, 4.0f, 0.35f);
        const float sx = on ? 23.5f : 8.5f;
        c.fill([sx](float x, float y) { return circle(x, y, sx + 0.4f, 8.9f, 5.6f); }, rgb(0, 0, 0), 0.6f);
        c.fill([sx](float x, float y) { return circle(x, y, sx, 8.0f, 5.4f); },
               [sx](float x, float y) { return capSheen(x, y, sx, 8.0f, rgb(70, 70, 84), rgb(200, 202, 216)); });
        c.fill([sx](float x, float y) { return circle(x, y, sx, 8.0f, 1.6f); }, on ? palette::ledGreen : rgb(40, 40, 52));
        strip.paste(c, on * w, 0);
    }
    return strip;
}

Canvas positionThumb() {
    const int w = 14, h = 30;
    Canvas strip(2 * w, h, palette::panel);
    for (int dragging = 0; dragging < 2; ++dragging) {
        Canvas c(w, h, palette::panel);
        // The groove continues behind the cap.
        c.fill([](float x, float y) { return roundedBox(x, y, -1.0f, 13.0f, 15.0f, 17.0f, 0.0f); }, palette::well);
        c.fill([](float x, float y) { return roundedBox(x, y, 1.5f, 1.5f, 13.5f, 29.5f, 2.5f); }, rgb(0, 0, 0), 0.6f);
        c.fill([](float x, float y) { return roundedBox(x, y, 1.0f, 0.5f, 13.0f, 28.5f, 2.5f); },
               [](float, float y) {
                   // A fader cap: ridged faces above and below the centre line.
                   const float ridge = 0.5f + 0.5f * std::cos(y * kPi / 2.0f);
                   const Rgb body = mix(rgb(150, 152, 168), rgb(60, 60, 76), clamp01(y / 28.0f));
                   return scale(body, 0.85f + 0.15f * ridge);
               });
        c.fill([](float x, float y) { return roundedBox(x, y, 1.0f, 13.5f, 13.0f, 15.5f, 0.0f); },
               dragging ? palette::accent : palette::text);
        strip.paste(c, dragging * w, 0);
    }
    return strip;
}

namespace {

void roundButton(Canvas& c, bool pressed) {
    const float cx = 17.5f, cy = 17.5f;
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 16.8f); }, rgb(6, 6, 10));
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 15.6f); },
           [=](float, float y) {
               const float t = clamp01((y - 2.0f) / 31.0f);
               return pressed ? mix(rgb(24, 24, 34), rgb(52, 52, 68), t) : mix(rgb(74, 74, 94), rgb(28, 28, 40), t);
           });
    c.fill([=](float x, float y) { return circle(x, y, cx, cy + (pressed ? 0.6f : 0.0f), 13.6f); },
           [=](float x, float y) { return capSheen(x, y, cx, cy, rgb(30, 30, 42), rgb(68, 68, 86)); });
}

void playGlyph(Canvas& c, Rgb ink, float dy) {
    c.fill([=](float x, float y) { return polygon(x, y, {{13.5f, 10.5f + dy}, {25.0f, 17.5f + dy}, {13.5f, 24.5f + dy}}); },
           ink);
}

void pauseGlyph(Canvas& c, Rgb ink, float dy) {
    c.fill([=](float x, float y) {
        return std::min(roundedBox(x, y, 12.0f, 11.0f + dy, 16.0f, 24.0f + dy, 0.8f),
                        roundedBox(x, y, 19.0f, 11.0f + dy, 23.0f, 24.0f + dy, 0.8f));
    },
           ink);
}

void rewindGlyph(Canvas& c, Rgb ink, float dy) {
    c.fill([=](float x, float y) {
        const float bar = roundedBox(x, y, 9.0f, 11.5f + dy, 11.5f, 23.5f + dy, 0.5f);
        const float first = polygon(x, y, {{11.5f, 17.5f + dy}, {18.5f, 11.5f + dy}, {18.5f, 23.5f + dy}});
        const float second = polygon(x, y, {{18.0f, 17.5f + dy}, {25.5f, 11.5f + dy}, {25.5f, 23.5f + dy}});
        return std::min(bar, std::min(first, second));
    },
           ink);
}

}  // namespace

Canvas transportButtons() {
    const int size = 35;
    Canvas strip(6 * size, size, palette::panel);
    const Rgb idle = rgb(190, 190, 215);
    for (int i = 0; i < 6; ++i) {
        Canvas c(size, size, palette::panel);
        // 0 play, 1 playing, 2 pause, 3 paused, 4 rewind, 5 rewind held.
        const bool lit = i == 1 || i == 3 || i == 5;
        roundButton(c, lit);
        const float dy = lit ? 0.6f : 0.0f;
        const Rgb ink = i == 1 ? palette::ledGreen : (lit ? palette::accent : idle);
        if (lit) c.glow([](float x, float y) { return circle(x, y, 17.5f, 17.5f, 8.0f); }, ink, 8.0f, 0.25f);
        if (i < 2) playGlyph(c, ink, dy);
        else if (i < 4) pauseGlyph(c, ink, dy);
        else rewindGlyph(c, ink, dy);
        strip.paste(c, i * size, 0);
    }
    return strip;
}
