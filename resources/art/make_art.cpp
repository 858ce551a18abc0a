// Paints the program's artwork and writes it as BMP and ICO files for the resource
// compiler. Everything is drawn here; nothing is read.
//   make_art <output folder>
#include <cstdio>
#include <string>
#include <vector>

#include "Art.h"
#include "Palette.h"

void programIcon(int size, Canvas& colour, Canvas& opacity) {
    const float s = size / 32.0f;
    auto body = [s](float x, float y) { return roundedBox(x, y, 1.0f * s, 1.0f * s, 31.0f * s, 31.0f * s, 6.0f * s); };
    opacity.fill(body, rgb(255, 255, 255));
    colour.fill(body, [s](float, float y) { return mix(rgb(52, 52, 74), rgb(16, 16, 26), clamp01(y / (30.0f * s))); });
    colour.fill([s](float x, float y) { return roundedBox(x, y, 2.2f * s, 2.2f * s, 29.8f * s, 29.8f * s, 5.0f * s); },
                [s](float, float y) { return mix(rgb(34, 34, 50), palette::panel, clamp01(y / (30.0f * s))); });
    drawKnob(colour, 16.0f * s, 16.2f * s, 28.5f * s, 0.7f, true);
}

namespace {

void put(std::vector<unsigned char>& out, unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

unsigned char byteOf(float v) { return static_cast<unsigned char>(clamp01(v) * 255.0f + 0.5f); }

// One icon file holding the given sizes, each a 32-bit image with its mask.
bool writeIcon(const std::string& path, const std::vector<int>& sizes) {
    std::vector<std::vector<unsigned char>> images;
    for (int size : sizes) {
        Canvas colour(size, size, rgb(0, 0, 0));
        Canvas opacity(size, size, rgb(0, 0, 0));
        programIcon(size, colour, opacity);
        std::vector<unsigned char> image;
        put(image, 40, 4);
        put(image, size, 4);
        put(image, 2 * size, 4);  // colour and mask rows
        put(image, 1, 2);
        put(image, 32, 2);
        put(image, 0, 4);
        const int maskRow = ((size + 31) / 32) * 4;
        put(image, size * size * 4 + maskRow * size, 4);
        put(image, 0, 4);
        put(image, 0, 4);
        put(image, 0, 4);
        put(image, 0, 4);
        for (int y = size - 1; y >= 0; --y)
            for (int x = 0; x < size; ++x) {
                const Rgb c = colour.at(x, y);
                image.push_back(byteOf(c.b));
                image.push_back(byteOf(c.g));
                image.push_back(byteOf(c.r));
                image.push_back(byteOf(opacity.at(x, y).r));
            }
        for (int y = size - 1; y >= 0; --y) {
            std::vector<unsigned char> row(maskRow, 0);
            for (int x = 0; x < size; ++x)
                if (opacity.at(x, y).r < 0.5f) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            image.insert(image.end(), row.begin(), row.end());
        }
        images.push_back(image);
    }
    std::vector<unsigned char> out;
    put(out, 0, 2);
    put(out, 1, 2);
    put(out, static_cast<unsigned>(sizes.size()), 2);
    unsigned offset = 6 + 16 * static_cast<unsigned>(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        out.push_back(static_cast<unsigned char>(sizes[i] >= 256 ? 0 : sizes[i]));
        out.push_back(static_cast<unsigned char>(sizes[i] >= 256 ? 0 : sizes[i]));
        put(out, 0, 2);
        put(out, 1, 2);
        put(out, 32, 2);
        put(out, static_cast<unsigned>(images[i].size()), 4);
        put(out, offset, 4);
        offset += static_cast<unsigned>(images[i].size());
    }
    for (const auto& image : images) out.insert(out.end(), image.begin(), image.end());
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_art <output folder>\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    struct Picture {
        const char* name;
        Canvas canvas;
    };
    const Picture pictures[] = {
        {"knob.bmp", knobStrip()},
        {"switch.bmp", switchStates()},
        {"position_thumb.bmp", positionThumb()},
        {"transport.bmp", transportButtons()},
        {"toolbar_normal.bmp", toolbarStrip(false)},
        {"toolbar_active.bmp", toolbarStrip(true)},
        {"value_bar.bmp", valueBar()},
        {"meter_panel.bmp", meterPanel()},
        {"fx_panel.bmp", fxPanel()},
        {"navigation_panel.bmp", navigationPanel()},
        {"mdi_background.bmp", mdiBackground()},
        {"editor_background.bmp", editorBackground()},
        {"parameter_header.bmp", parameterHeader()},
        {"programs_button.bmp", programsButton()},
    };
    for (const Picture& picture : pictures) {
        if (!picture.canvas.writeBmp(folder + picture.name)) {
            std::fprintf(stderr, "make_art: cannot write %s%s\n", folder.c_str(), picture.name);
            return 1;
        }
    }
    if (!writeIcon(folder + "program.ico", {16, 32, 48}) || !writeIcon(folder + "program_small.ico", {16})) {
        std::fprintf(stderr, "make_art: cannot write the icons in %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
