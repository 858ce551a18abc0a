// The toolbar's ten buttons: new, open, save, backing track, live input,
// metronome, record, effects, tuner, tap tempo. The active set (hot and pressed)
// is lit.
#include "Art.h"
#include "Palette.h"

namespace {

const int kWidth = 48;
const int kHeight = 39;

struct Ink {
    Rgb line;    // the glyph's main colour
    Rgb accent;  // its lit detail
    Rgb face;    // the button face behind it
    bool active;
};

using P = std::pair<float, float>;

void buttonFace(Canvas& c, const Ink& ink) {
    // A square hardware button: dark bevelled cap on a black rim.
    c.fill([](float x, float y) { return roundedBox(x, y, 0.0f, 0.0f, 48.0f, 39.0f, 0.0f); }, rgb(8, 8, 12));
    c.fill([](float x, float y) { return roundedBox(x, y, 1.0f, 1.0f, 47.0f, 38.0f, 3.0f); },
           [&](float, float y) {
               const float t = clamp01((y - 1.0f) / 37.0f);
               return mix(ink.active ? rgb(76, 76, 100) : rgb(62, 62, 80), rgb(22, 22, 32), t);
           });
    c.fill([](float x, float y) { return roundedBox(x, y, 2.5f, 2.5f, 45.5f, 36.5f, 2.5f); },
           [&](float, float y) {
               const float t = clamp01((y - 2.5f) / 34.0f);
               return mix(ink.face, scale(ink.face, 0.62f), t);
           });
    if (ink.active)
        c.glow([](float x, float y) { return roundedBox(x, y, 12.0f, 8.0f, 36.0f, 31.0f, 6.0f); }, ink.accent, 12.0f,
               0.12f);
}

void newGlyph(Canvas& c, const Ink& ink) {
    const std::vector<P> page = {{15, 6}, {28, 6}, {34, 12}, {34, 32}, {15, 32}};
    c.fill([&](float x, float y) { return polygon(x, y, page); }, ink.line);
    c.fill([](float x, float y) { return polygon(x, y, {{28, 6}, {34, 12}, {28, 12}}); }, scale(ink.line, 0.6f));
    for (int i = 0; i < 3; ++i)
        c.fill([i](float x, float y) { return roundedBox(x, y, 18.0f, 16.0f + 4.0f * i, 30.0f, 17.2f + 4.0f * i, 0.4f); },
               scale(ink.line, 0.55f));
    // A "+" badge: a new, empty performance.
    c.fill([](float x, float y) { return circle(x, y, 33.5f, 29.5f, 6.0f); }, ink.face);
    c.fill([](float x, float y) { return circle(x, y, 33.5f, 29.5f, 5.0f); }, ink.accent);
    c.fill([](float x, float y) {
        return std::min(roundedBox(x, y, 30.5f, 28.6f, 36.5f, 30.4f, 0.3f), roundedBox(x, y, 32.6f, 26.5f, 34.4f, 32.5f, 0.3f));
    },
           ink.face);
}

void openGlyph(Canvas& c, const Ink& ink) {
    const Rgb folder = ink.active ? rgb(255, 196, 80) : rgb(214, 168, 78);
    c.fill([](float x, float y) { return polygon(x, y, {{11, 9}, {19, 9}, {22, 12}, {35, 12}, {35, 30}, {11, 30}}); },
           scale(folder, 0.62f));
    // A sheet sticking out of the folder.
    c.fill([](float x, float y) { return roundedBox(x, y, 15.0f, 13.5f, 32.0f, 28.0f, 0.5f); }, ink.line);
    c.fill([](float x, float y) { return polygon(x, y, {{15, 18}, {39, 18}, {34, 30}, {10, 30}}); },
           [&](float, float y) { return mix(folder, scale(folder, 0.75f), clamp01((y - 18.0f) / 12.0f)); });
}

void saveGlyph(Canvas& c, const Ink& ink) {
    const Rgb body = ink.active ? rgb(110, 160, 255) : rgb(90, 124, 200);
    c.fill([](float x, float y) { return polygon(x, y, {{12, 6}, {32, 6}, {36, 10}, {36, 33}, {12, 33}}); }, body);
    // The metal shutter with its slot, and the white label.
    c.fill([](float x, float y) { return roundedBox(x, y, 17.0f, 6.0f, 31.0f, 15.0f, 0.5f); }, rgb(200, 202, 214));
    c.fill([](float x, float y) { return roundedBox(x, y, 26.0f, 8.0f, 29.0f, 13.5f, 0.3f); }, scale(body, 0.55f));
    c.fill([](float x, float y) { return roundedBox(x, y, 16.0f, 20.0f, 32.0f, 33.0f, 1.0f); }, ink.line);
    for (int i = 0; i < 2; ++i)
        c.fill([i](float x, float y) { return roundedBox(x, y, 18.5f, 24.0f + 4.0f * i, 29.5f, 25.0f + 4.0f * i, 0.3f); },
               scale(ink.line, 0.55f));
}

void backingTrackGlyph(Canvas& c, const Ink& ink) {
    // Two beamed eighth notes.
    auto head = [](float x, float y, float cx, float cy) {
        const float a = -0.45f;
        const float dx = x - cx, dy = y - cy;
        const float u = dx * std::cos(a) + dy * std::sin(a), v = -dx * std::sin(a) + dy * std::cos(a);
        return std::hypot(u / 4.6f, v / 3.3f) * 3.3f - 3.3f;
    };
    c.fill([&](float x, float y) {
        const float heads = std::min(head(x, y, 16.5f, 28.5f), head(x, y, 30.5f, 25.5f));
        const float stems = std::min(roundedBox(x, y, 19.6f, 9.0f, 21.4f, 28.0f, 0.3f),
                                     roundedBox(x, y, 33.6f, 6.0f, 35.4f, 25.0f, 0.3f));
        const float beam = polygon(x, y, {{19.6f, 9.0f}, {35.4f, 6.0f}, {35.4f, 10.5f}, {19.6f, 13.5f}});
        return std::min(heads, std::min(stems, beam));
    },
           ink.active ? ink.accent : ink.line);
}

void liveInputGlyph(Canvas& c, const Ink& ink) {
    // A stage microphone: grille, holder, stem and base.
    c.fill([](float x, float y) { return arc(x, y, 24.0f, 18.0f, 9.0f, 1.0f, 95.0f, 265.0f); }, ink.line);
    c.fill([](float x, float y) { return roundedBox(x, y, 23.0f, 27.0f, 25.0f, 31.0f, 0.3f); }, ink.line);
    c.fill([](float x, float y) { return roundedBox(x, y, 17.0f, 31.0f, 31.0f, 33.0f, 1.0f); }, ink.line);
    c.fill([](float x, float y) { return roundedBox(x, y, 18.5f, 4.0f, 29.5f, 22.0f, 5.5f); },
           [&](float x, float y) {
               const bool grille = (int(std::floor(x)) + int(std::floor(y))) % 3 == 0 && y < 15.0f;
               const Rgb metal = mix(rgb(210, 212, 228), rgb(120, 122, 140), clamp01((x - 18.5f) / 11.0f));
               return grille ? scale(metal, 0.55f) : metal;
           });
    c.fill([](float x, float y) { return roundedBox(x, y, 18.5f, 14.5f, 29.5f, 16.5f, 0.3f); },
           ink.active ? ink.accent : scale(ink.line, 0.7f));
}

void metronomeGlyph(Canvas& c, const Ink& ink) {
    const Rgb wood = ink.active ? rgb(200, 130, 70) : rgb(160, 104, 60);
    c.fill([](float x, float y) { return polygon(x, y, {{20, 5}, {28, 5}, {35, 31}, {13, 31}}); }, wood);
    c.fill([](float x, float y) { return polygon(x, y, {{21.5f, 8}, {26.5f, 8}, {30.5f, 24}, {17.5f, 24}}); },
           rgb(32, 26, 24));
    c.fill([](float x, float y) { return roundedBox(x, y, 11.0f, 30.0f, 37.0f, 33.5f, 1.0f); }, scale(wood, 0.7f));
    // The pendulum, swung to the right, with its weight.
    c.fill([](float x, float y) { return capsule(x, y, 24.0f, 26.0f, 31.5f, 8.0f, 0.9f); }, ink.line);
    c.fill([](float x, float y) { return roundedBox(x, y, 27.0f, 14.0f, 31.0f, 17.5f, 0.8f); },
           ink.active ? ink.accent : ink.line);
}

void recordGlyph(Canvas& c, const Ink& ink) {
    const Rgb red = ink.active ? rgb(255, 60, 50) : rgb(210, 40, 36);
    if (ink.active) c.glow([](float x, float y) { return circle(x, y, 24.0f, 19.5f, 9.0f); }, red, 8.0f, 0.4f);
    c.fill([](float x, float y) { return circle(x, y, 24.0f, 19.5f, 10.5f); }, rgb(10, 10, 14));
    c.fill([](float x, float y) { return circle(x, y, 24.0f, 19.5f, 9.0f); },
           [red](float x, float y) {
               const float highlight = clamp01(1.0f - std::hypot(x - 21.0f, y - 16.0f) / 9.0f);
               return mix(scale(red, 0.8f), rgb(255, 190, 180), highlight * highlight * 0.7f);
           });
}

void effectsGlyph(Canvas& c, const Ink& ink) {
    // A stomp box: body, two knobs, a status lamp and the footswitch.
    const Rgb body = ink.active ? rgb(40, 170, 150) : rgb(32, 130, 118);
    c.fill([](float x, float y) { return roundedBox(x, y, 13.5f, 5.0f, 34.5f, 34.0f, 3.0f); }, rgb(6, 6, 10));
    c.fill([](float x, float y) { return roundedBox(x, y, 14.0f, 5.0f, 34.0f, 33.0f, 3.0f); },
           [body](float, float y) { return mix(body, scale(body, 0.65f), clamp01((y - 5.0f) / 28.0f)); });
    for (float kx : {19.5f, 28.5f}) {
        c.fill([kx](float x, float y) { return circle(x, y, kx, 11.0f, 3.2f); }, rgb(20, 20, 26));
        c.fill([kx](float x, float y) { return capsule(x, y, kx, 11.0f, kx + 1.6f, 8.6f, 0.55f); }, ink.line);
    }
    c.fill([](float x, float y) { return circle(x, y, 24.0f, 17.5f, 1.5f); },
           ink.active ? palette::ledRed : rgb(110, 30, 24));
    c.fill([](float x, float y) { return circle(x, y, 24.0f, 26.5f, 4.6f); }, rgb(10, 10, 14));
    c.fill([](float x, float y) { return circle(x, y, 24.0f, 26.0f, 3.8f); },
           [](float x, float y) { return mix(rgb(230, 232, 240), rgb(110, 112, 126), clamp01((x + y - 44.0f) / 8.0f)); });
}


void tunerGlyph(Canvas& c, const Ink& ink) {
    // A tuning fork: two tines on a U, the stem and its ball, sounding. (Angles past
    // six o'clock are negative for arc, so the U is drawn in two halves.)
    const Rgb steel = ink.active ? rgb(236, 238, 252) : rgb(196, 198, 218);
    auto fork = [](float x, float y) {
        const float tines = std::min(roundedBox(x, y, 17.0f, 5.0f, 20.2f, 19.5f, 1.2f),
                                     roundedBox(x, y, 27.8f, 5.0f, 31.0f, 19.5f, 1.2f));
        const float bow = std::min(arc(x, y, 24.0f, 19.0f, 5.4f, 1.6f, 90.0f, 180.0f),
                                   arc(x, y, 24.0f, 19.0f, 5.4f, 1.6f, -180.0f, -90.0f));
        const float stem = roundedBox(x, y, 22.8f, 23.0f, 25.2f, 31.0f, 0.6f);
        return std::min(std::min(tines, bow), std::min(stem, circle(x, y, 24.0f, 32.0f, 2.4f)));
    };
    c.fill(fork, [steel](float x, float) { return mix(steel, scale(steel, 0.7f), clamp01((x - 17.0f) / 14.0f)); });
    // The sound: two short arcs either side of the tines, lit on the active button.
    const Rgb wave = ink.active ? ink.accent : scale(ink.line, 0.75f);
    for (float r : {12.0f, 15.5f}) {
        c.fill([r](float x, float y) { return arc(x, y, 24.0f, 12.0f, r, 0.8f, 62.0f, 118.0f); }, wave);
        c.fill([r](float x, float y) { return arc(x, y, 24.0f, 12.0f, r, 0.8f, -118.0f, -62.0f); }, wave);
    }
}

void tapTempoGlyph(Canvas& c, const Ink& ink) {
    // A footswitch pad engraved TAP, with the beat lamp above it.
    c.fill([](float x, float y) { return circle(x, y, 24.0f, 8.5f, 2.4f); }, rgb(10, 10, 14));
    c.fill([](float x, float y) { return circle(x, y, 24.0f, 8.5f, 1.7f); },
           ink.active ? palette::ledGreen : rgb(20, 80, 40));
    c.fill([](float x, float y) { return roundedBox(x, y, 11.0f, 14.0f, 37.0f, 33.0f, 3.5f); }, rgb(8, 8, 12));
    c.fill([](float x, float y) { return roundedBox(x, y, 12.0f, 14.5f, 36.0f, 31.5f, 3.0f); },
           [](float, float y) { return mix(rgb(96, 98, 116), rgb(44, 44, 58), clamp01((y - 14.5f) / 17.0f)); });
    drawText(c, 24 - textWidth("TAP", 1) / 2, 20, "TAP", ink.active ? ink.accent : ink.line, 1);
}

}  // namespace

Canvas toolbarStrip(bool active) {
    Canvas strip(10 * kWidth, kHeight, palette::panel);
    Ink ink{active ? rgb(244, 244, 255) : rgb(200, 200, 226), palette::accent,
            active ? rgb(44, 44, 62) : rgb(34, 34, 48), active};
    void (*glyphs[10])(Canvas&, const Ink&) = {newGlyph,       openGlyph,      saveGlyph,    backingTrackGlyph,
                                               liveInputGlyph, metronomeGlyph, recordGlyph,  effectsGlyph,
                                               tunerGlyph,     tapTempoGlyph};
    for (int i = 0; i < 10; ++i) {
        Canvas c(kWidth, kHeight, palette::panel);
        buttonFace(c, ink);
        glyphs[i](c, ink);
        strip.paste(c, i * kWidth, 0);
    }
    return strip;
}
