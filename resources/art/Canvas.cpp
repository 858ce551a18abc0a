#include "Canvas.h"

#include <cstdio>
#include <map>

namespace {

void put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, unsigned v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}
uint8_t channel(float v) { return uint8_t(std::lround(clamp01(v) * 255.0f)); }

// Rows of each glyph, top to bottom, '#' for ink.
const std::map<char, std::vector<std::string>>& glyphs() {
    static const std::map<char, std::vector<std::string>> table = {
        {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
        {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
        {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
        {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
        {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
        {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
        {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
        {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
        {'I', {"###", ".#.", ".#.", ".#.", ".#.", ".#.", "###"}},
        {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
        {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
        {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
        {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
        {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
        {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
        {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
        {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
        {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
        {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
        {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
        {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
        {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
        {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
        {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
        {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
        {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
        {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
        {'1', {".#.", "##.", ".#.", ".#.", ".#.", ".#.", "###"}},
        {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
        {'3', {"####.", "....#", "....#", ".###.", "....#", "....#", "####."}},
        {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
        {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
        {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
        {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
        {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
        {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
        {'-', {"....", "....", "....", "####", "....", "....", "...."}},
        {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
        {'.', {".", ".", ".", ".", ".", ".", "#"}},
        {':', {".", ".", "#", ".", "#", ".", "."}},
        {'/', {"....#", "...#.", "...#.", "..#..", ".#...", ".#...", "#...."}},
        {'%', {"##..#", "##..#", "...#.", "..#..", ".#...", "#..##", "#..##"}},
        {'~', {".....", ".....", ".#...", "#.#.#", "...#.", ".....", "....."}},
        {' ', {"..", "..", "..", "..", "..", "..", ".."}},
    };
    return table;
}

}  // namespace

bool Canvas::writeBmp(const std::string& path) const {
    const unsigned rowBytes = (unsigned(width_) * 3 + 3) & ~3u;
    const unsigned imageBytes = rowBytes * unsigned(height_);
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, 54 + imageBytes);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, unsigned(width_));
    put32(out, unsigned(height_));  // bottom-up rows
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, imageBytes);
    put32(out, 2835);
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (int y = height_ - 1; y >= 0; --y) {
        unsigned written = 0;
        for (int x = 0; x < width_; ++x) {
            const Rgb p = at(x, y);
            out.push_back(channel(p.b));
            out.push_back(channel(p.g));
            out.push_back(channel(p.r));
            written += 3;
        }
        for (; written < rowBytes; ++written) out.push_back(0);
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}

float polygon(float x, float y, const std::vector<std::pair<float, float>>& v) {
    float d = (x - v[0].first) * (x - v[0].first) + (y - v[0].second) * (y - v[0].second);
    float s = 1.0f;
    for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i, ++i) {
        const float ex = v[j].first - v[i].first, ey = v[j].second - v[i].second;
        const float wx = x - v[i].first, wy = y - v[i].second;
        const float h = clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey));
        const float bx = wx - ex * h, by = wy - ey * h;
        d = std::min(d, bx * bx + by * by);
        const bool c1 = y >= v[i].second, c2 = y < v[j].second, c3 = ex * wy > ey * wx;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
    }
    return s * std::sqrt(d);
}

float arc(float x, float y, float cx, float cy, float radius, float halfWidth, float a0, float a1) {
    float angle = std::atan2(x - cx, cy - y) * 180.0f / kPi;  // clockwise from twelve o'clock
    if (angle >= a0 && angle <= a1) return std::fabs(std::hypot(x - cx, y - cy) - radius) - halfWidth;
    const float d0 = std::hypot(x - angleX(cx, radius, a0), y - angleY(cy, radius, a0));
    const float d1 = std::hypot(x - angleX(cx, radius, a1), y - angleY(cy, radius, a1));
    return std::min(d0, d1) - halfWidth;
}

int textWidth(const std::string& text, int scale) {
    int width = 0;
    for (char c : text) {
        auto found = glyphs().find(c);
        if (found == glyphs().end()) continue;
        width += (int(found->second[0].size()) + 1) * scale;
    }
    return width > 0 ? width - scale : 0;
}

int drawText(Canvas& canvas, int x, int y, const std::string& text, Rgb colour, int scale, float opacity) {
    const int start = x;
    for (char c : text) {
        auto found = glyphs().find(c);
        if (found == glyphs().end()) continue;
        const auto& rows = found->second;
        for (size_t row = 0; row < rows.size(); ++row)
            for (size_t column = 0; column < rows[row].size(); ++column)
                if (rows[row][column] == '#')
                    for (int j = 0; j < scale; ++j)
                        for (int i = 0; i < scale; ++i)
                            canvas.blend(x + int(column) * scale + i, y + int(row) * scale + j, colour, opacity);
        x += (int(rows[0].size()) + 1) * scale;
    }
    return x - start;
}
