// The panels behind the controls: FX Manager, navigation bar, VU meters, the MDI
// client's backdrop, the parameter view, and the small bar and button pictures.
#include <cstdio>

#include "Art.h"
#include "Palette.h"

namespace {

// A faceplate: the panel colour with a faint vertical brushing and a bevelled edge.
void faceplate(Canvas& c) {
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) {
            const float grain = 0.5f + 0.5f * std::sin(x * 1.7f + std::sin(x * 0.31f) * 3.0f);
            c.set(x, y, mix(palette::panel, rgb(26, 26, 38), grain * 0.5f));
        }
    for (int x = 0; x < c.width(); ++x) {
        c.blend(x, 0, palette::panelEdgeLight, 0.8f);
        c.blend(x, c.height() - 1, rgb(0, 0, 0), 0.8f);
    }
    for (int y = 0; y < c.height(); ++y) {
        c.blend(0, y, palette::panelEdgeLight, 0.6f);
        c.blend(c.width() - 1, y, rgb(0, 0, 0), 0.8f);
    }
}

void screwHead(Canvas& c, float cx, float cy) {
    c.fill([=](float x, float y) { return circle(x, y, cx + 0.4f, cy + 0.6f, 3.4f); }, rgb(0, 0, 0), 0.6f);
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 3.2f); },
           [=](float x, float y) { return mix(rgb(120, 120, 138), rgb(44, 44, 56), clamp01((x - cx + y - cy + 4.0f) / 8.0f)); });
    c.fill([=](float x, float y) { return capsule(x, y, cx - 2.0f, cy + 1.2f, cx + 2.0f, cy - 1.2f, 0.5f); },
           rgb(20, 20, 26));
}

// A recessed display or groove: dark inside, shadow on top, light on the bottom edge.
void recess(Canvas& c, float left, float top, float right, float bottom, float radius, Rgb inside = palette::well) {
    c.fill([=](float x, float y) { return roundedBox(x, y, left - 1, top - 1, right + 1, bottom + 1, radius + 1); },
           palette::panelEdgeLight, 0.7f);
    c.fill([=](float x, float y) { return roundedBox(x, y, left - 1, top - 1, right, bottom, radius + 1); }, rgb(0, 0, 0),
           0.8f);
    c.fill([=](float x, float y) { return roundedBox(x, y, left, top, right, bottom, radius); }, inside);
}

void centredText(Canvas& c, int cx, int y, const std::string& text, Rgb colour) {
    drawText(c, cx - textWidth(text) / 2, y, text, colour);
}

// A flat collar under a knob at (x, y) (its top-left corner): the knob's picture is
// a square of the plain panel colour, so the grain stops short of its corners.
void knobCollar(Canvas& c, int knobX, int knobY) {
    const float cx = knobX + 13.5f, cy = knobY + 13.5f;
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 20.0f); }, palette::panelEdgeLight, 0.5f);
    c.fill([=](float x, float y) { return circle(x, y, cx, cy, 19.4f); }, palette::panel);
}

void sectionHeader(Canvas& c, int x, int y, int width, const std::string& text) {
    drawText(c, x, y, text, palette::label);
    const int after = x + textWidth(text) + 5;
    for (int i = after; i < x + width; ++i) c.blend(i, y + 3, palette::labelDim, 0.8f);
}

}  // namespace

Canvas valueBar() {
    Canvas c(166, 16, palette::well);
    for (int x = 0; x < 166; ++x) {
        // Green up to 60, amber to 85, red beyond, as on a meter; small LED gaps.
        const Rgb led = x < 60 ? palette::ledGreen : (x < 85 ? palette::ledAmber : palette::ledRed);
        const bool gap = x % 4 == 3;
        for (int y = 0; y < 16; ++y) {
            const float gloss = 1.0f - 0.35f * clamp01(y / 14.0f) + (y < 4 ? 0.12f : 0.0f);
            c.set(x, y, gap ? scale(led, 0.35f) : mix(scale(led, gloss), rgb(255, 255, 255), y < 2 ? 0.2f : 0.0f));
        }
    }
    return c;
}

Canvas meterPanel() {
    Canvas c(300, 56, palette::panel);
    faceplate(c);
    // Two wells for the segment rows (the window fills the segments).
    recess(c, 62.0f, 9.0f, 282.0f, 25.0f, 1.5f);
    recess(c, 62.0f, 32.0f, 282.0f, 48.0f, 1.5f);
    drawText(c, 48, 14, "L", palette::text);
    drawText(c, 48, 37, "R", palette::text);
    drawText(c, 8, 14, "DB", palette::labelDim);
    // The scale between the rows: where a segment lights, coloured by zone.
    const int marks[] = {-60, -40, -30, -20, -12, -6, 0};
    for (int db : marks) {
        const int k = int((db + 80) * 0.5375 + 0.999) - 1;  // first segment lit at this level
        const int x = 65 + 5 * k + 2;
        const Rgb colour = db >= -6 ? (db >= 0 ? palette::ledRed : palette::ledAmber) : palette::ledGreen;
        char text[16];
        std::snprintf(text, sizeof text, "%d", db < 0 ? -db : db);
        drawText(c, x - textWidth(text) / 2, 25, text, scale(colour, 0.85f));
    }
    screwHead(c, 10.0f, 46.0f);
    screwHead(c, 290.0f, 46.0f);
    return c;
}

Canvas fxPanel() {
    Canvas c(548, 272, palette::panel);
    faceplate(c);
    // Left half: gains and the gate, each knob with its value display and caption.
    sectionHeader(c, 14, 16, 190, "GAIN");
    sectionHeader(c, 14, 114, 190, "NOISE GATE");
    struct Row {
        int knobY, staticX, staticY;
        const char* caption;
        const char* unit;
    };
    const Row rows[] = {{35, 53, 45, "INPUT", "DB"},      {67, 53, 74, "OUTPUT", "DB"},
                        {134, 54, 145, "ATTACK", "MS"},  {166, 54, 174, "RELEASE", "MS"},
                        {197, 54, 203, "THRESHOLD", "DB"}};
    // Flat strips under the knob columns: a knob's picture is a square of the plain
    // panel colour.
    for (const float top : {29.0f, 128.0f}) {
        const float bottom = top == 29.0f ? 100.0f : 230.0f;
        c.fill([=](float x, float y) { return roundedBox(x, y, 13.0f, top - 1.0f, 51.0f, bottom + 1.0f, 8.0f); },
               palette::panelEdgeLight, 0.45f);
        c.fill([=](float x, float y) { return roundedBox(x, y, 14.0f, top, 50.0f, bottom, 7.0f); }, palette::panel);
    }
    for (const Row& row : rows) {
        recess(c, row.staticX, row.staticY, row.staticX + 41.0f, row.staticY + 14.0f, 1.0f, palette::panel);
        drawText(c, row.staticX + 48, row.staticY + 4, row.caption, palette::label);
        drawText(c, row.staticX + 48 + textWidth(row.caption) + 5, row.staticY + 4, row.unit, palette::labelDim);
    }
    // Divider between the chain's own stages and the effect positions.
    for (int y = 12; y < 258; ++y) {
        c.blend(214, y, rgb(0, 0, 0), 0.7f);
        c.blend(215, y, palette::panelEdgeLight, 0.5f);
    }
    // DC filter switch at the top right.
    drawText(c, 345 - 8 - textWidth("DC FILTER"), 12, "DC FILTER", palette::label);
    recess(c, 344.0f, 7.0f, 378.0f, 25.0f, 3.0f, palette::panel);

    // The effect chain: eight positions, each with its menu button, name display
    // and on/off switch.
    sectionHeader(c, 236, 46, 296, "EFFECT CHAIN");
    drawText(c, 499, 58, "ON", palette::labelDim);
    for (int r = 0; r < 8; ++r) {
        char number[4];
        std::snprintf(number, sizeof number, "%d", r + 1);
        const float buttonTop = 68.0f + 23.0f * r;
        drawText(c, 238, int(buttonTop) + 4, number, palette::label);
        // The menu button: a small key with a down arrow (clicks count in 251..266).
        c.fill([=](float x, float y) { return roundedBox(x, y, 250.5f, buttonTop - 0.5f, 267.5f, buttonTop + 16.5f, 2.5f); },
               rgb(4, 4, 8));
        c.fill([=](float x, float y) { return roundedBox(x, y, 251.0f, buttonTop, 267.0f, buttonTop + 15.5f, 2.0f); },
               [=](float, float y) { return mix(rgb(78, 78, 98), rgb(34, 34, 46), clamp01((y - buttonTop) / 15.0f)); });
        c.fill([=](float x, float y) {
            return polygon(x, y, {{255.0f, buttonTop + 6.0f}, {263.0f, buttonTop + 6.0f}, {259.0f, buttonTop + 10.5f}});
        },
               palette::accent);
        const float nameTop = 71.0f + 22.0f * r;
        recess(c, 281.0f, nameTop - 1.0f, 468.0f, nameTop + 18.0f, 1.5f, palette::panel);
        recess(c, 489.0f, 72.0f + 22.0f * r, 523.0f, 90.0f + 22.0f * r, 3.0f, palette::panel);
    }
    drawText(c, 14, 246, "TALVENOR LIVE", palette::labelDim);
    drawText(c, 14 + textWidth("TALVENOR LIVE") + 6, 246, "FX", palette::accent);
    for (float sx : {7.0f, 540.0f})
        for (float sy : {7.0f, 264.0f}) screwHead(c, sx, sy);
    return c;
}

Canvas navigationPanel() {
    Canvas c(293, 130, palette::panel);
    faceplate(c);
    drawText(c, 24, 8, "ACCOMPANIMENT", palette::label);
    // The name display; the window writes the file's name at (30, 28).
    recess(c, 24.0f, 20.0f, 204.0f, 44.0f, 2.0f, rgb(12, 12, 20));
    knobCollar(c, 217, 35);
    centredText(c, 230, 71, "LEVEL", palette::label);
    // Transport: buttons sit on a recessed strip; the slider's groove to the right.
    recess(c, 8.0f, 78.0f, 119.0f, 117.0f, 4.0f);
    recess(c, 133.0f, 93.0f, 237.0f, 97.0f, 1.0f);
    for (int i = 0; i <= 10; ++i) {
        const int x = 135 + 10 * i;
        const int length = (i % 5 == 0) ? 4 : 2;
        for (int y = 0; y < length; ++y) c.blend(x, 112 + y, palette::labelDim, 1.0f);
    }
    centredText(c, 185, 119, "POSITION", palette::labelDim);
    screwHead(c, 8.0f, 8.0f);
    screwHead(c, 285.0f, 8.0f);
    screwHead(c, 285.0f, 122.0f);
    return c;
}

Canvas mdiBackground() {
    // A rack's perforated grille, tiling seamlessly every 8 pixels.
    Canvas c(64, 64, rgb(24, 24, 34));
    for (int gy = 0; gy < 8; ++gy)
        for (int gx = 0; gx < 8; ++gx) {
            const float cx = gx * 8 + 4.0f + ((gy % 2) ? 4.0f : 0.0f), cy = gy * 8 + 4.0f;
            for (float ox : {-64.0f, 0.0f, 64.0f}) {
                c.fill([=](float x, float y) { return circle(x, y, cx + ox, cy + 0.6f, 1.9f); }, rgb(44, 44, 60));
                c.fill([=](float x, float y) { return circle(x, y, cx + ox, cy, 1.8f); }, rgb(10, 10, 16));
            }
        }
    return c;
}

Canvas editorBackground() {
    // Light brushed aluminium: the parameter view writes black text on it.
    Canvas c(64, 64, rgb(196, 198, 208));
    unsigned seed = 12345;
    for (int y = 0; y < 64; ++y) {
        seed = seed * 1103515245u + 12345u;
        const float line = ((seed >> 16) & 255) / 255.0f;
        for (int x = 0; x < 64; ++x) {
            const float fine = 0.5f + 0.5f * std::sin((x + y * 7) * 0.9f);
            c.set(x, y, scale(rgb(196, 198, 208), 0.95f + 0.05f * line + 0.015f * fine));
        }
    }
    return c;
}

Canvas parameterHeader() {
    Canvas c(346, 21, palette::panel);
    faceplate(c);
    drawText(c, 3, 7, "PARAMETER", palette::label);
    drawText(c, 103, 7, "VALUE", palette::label);
    drawText(c, 183, 7, "UNIT", palette::label);
    drawText(c, 253, 7, "SETTING", palette::label);
    for (int x = 0; x < 346; ++x) c.blend(x, 19, palette::accent, 0.8f);
    return c;
}

Canvas programsButton() {
    Canvas c(17, 17, palette::panel);
    c.fill([](float x, float y) { return roundedBox(x, y, 0.0f, 0.0f, 17.0f, 17.0f, 2.5f); }, rgb(4, 4, 8));
    c.fill([](float x, float y) { return roundedBox(x, y, 0.8f, 0.8f, 16.2f, 16.2f, 2.0f); },
           [](float, float y) { return mix(rgb(84, 84, 104), rgb(32, 32, 44), clamp01(y / 16.0f)); });
    for (int i = 0; i < 3; ++i)
        c.fill([i](float x, float y) { return roundedBox(x, y, 4.0f, 3.5f + 2.5f * i, 13.0f, 4.6f + 2.5f * i, 0.3f); },
               palette::text);
    c.fill([](float x, float y) { return polygon(x, y, {{5.0f, 11.0f}, {12.0f, 11.0f}, {8.5f, 14.5f}}); },
           palette::accent);
    return c;
}
