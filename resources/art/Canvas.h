#pragma once
// A small software painter for the program's artwork: an RGB canvas, shapes given
// as signed distance functions, painted with 4 x 4 supersampling so every edge is
// anti-aliased, and a 5 x 7 pixel font for the engraved labels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Rgb {
    float r, g, b;
};

inline Rgb rgb(int r, int g, int b) { return Rgb{r / 255.0f, g / 255.0f, b / 255.0f}; }
inline Rgb mix(Rgb a, Rgb b, float t) {
    return Rgb{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
inline Rgb scale(Rgb a, float f) { return Rgb{a.r * f, a.g * f, a.b * f}; }
inline float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

const float kPi = 3.14159265358979f;

class Canvas {
public:
    Canvas(int width, int height, Rgb fill) : width_(width), height_(height), pixels_(width * height, fill) {}

    int width() const { return width_; }
    int height() const { return height_; }
    Rgb at(int x, int y) const { return pixels_[y * width_ + x]; }
    void set(int x, int y, Rgb colour) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[y * width_ + x] = colour;
    }
    void blend(int x, int y, Rgb colour, float alpha) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_ || alpha <= 0.0f) return;
        Rgb& p = pixels_[y * width_ + x];
        p = mix(p, colour, clamp01(alpha));
    }

    // Paints where distance(x, y) < 0 with colour(x, y), over the pixels of the box
    // [x0, x1) x [y0, y1), averaging 16 samples per pixel. opacity scales the result.
    using Distance = std::function<float(float, float)>;
    using Shader = std::function<Rgb(float, float)>;
    void fill(const Distance& distance, const Shader& colour, float opacity = 1.0f, int x0 = 0, int y0 = 0,
              int x1 = -1, int y1 = -1) {
        if (x1 < 0) x1 = width_;
        if (y1 < 0) y1 = height_;
        x0 = std::max(0, x0);
        y0 = std::max(0, y0);
        x1 = std::min(width_, x1);
        y1 = std::min(height_, y1);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                float covered = 0.0f;
                Rgb sum{0, 0, 0};
                for (int sy = 0; sy < 4; ++sy) {
                    for (int sx = 0; sx < 4; ++sx) {
                        const float px = x + (sx + 0.5f) / 4.0f;
                        const float py = y + (sy + 0.5f) / 4.0f;
                        if (distance(px, py) < 0.0f) {
                            const Rgb c = colour(px, py);
                            sum.r += c.r;
                            sum.g += c.g;
                            sum.b += c.b;
                            covered += 1.0f;
                        }
                    }
                }
                if (covered > 0.0f) blend(x, y, scale(sum, 1.0f / covered), covered / 16.0f * opacity);
            }
        }
    }
    void fill(const Distance& distance, Rgb colour, float opacity = 1.0f) {
        fill(distance, [colour](float, float) { return colour; }, opacity);
    }

    // A soft shadow or glow: opacity falls off over `softness` pixels outside the shape.
    void glow(const Distance& distance, Rgb colour, float softness, float opacity) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const float d = distance(x + 0.5f, y + 0.5f);
                const float a = d <= 0.0f ? 1.0f : std::max(0.0f, 1.0f - d / softness);
                blend(x, y, colour, a * a * opacity);
            }
    }

    // Copies another canvas in at (x, y).
    void paste(const Canvas& other, int x, int y) {
        for (int j = 0; j < other.height(); ++j)
            for (int i = 0; i < other.width(); ++i) set(x + i, y + j, other.at(i, j));
    }

    bool writeBmp(const std::string& path) const;

private:
    int width_;
    int height_;
    std::vector<Rgb> pixels_;
};

// Signed distances (negative inside).
inline float circle(float x, float y, float cx, float cy, float r) { return std::hypot(x - cx, y - cy) - r; }
inline float roundedBox(float x, float y, float left, float top, float right, float bottom, float radius) {
    const float cx = (left + right) * 0.5f, cy = (top + bottom) * 0.5f;
    const float hx = (right - left) * 0.5f - radius, hy = (bottom - top) * 0.5f - radius;
    const float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
    return std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f)) + std::min(std::max(qx, qy), 0.0f) - radius;
}
inline float capsule(float x, float y, float ax, float ay, float bx, float by, float r) {
    const float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    const float h = clamp01((px * dx + py * dy) / (dx * dx + dy * dy));
    return std::hypot(px - dx * h, py - dy * h) - r;
}
// A convex or concave polygon, points given in order.
float polygon(float x, float y, const std::vector<std::pair<float, float>>& points);
// An arc of a ring with round ends: centre, radius, half width, angles in degrees
// measured clockwise from twelve o'clock, from a0 to a1 (a0 < a1).
float arc(float x, float y, float cx, float cy, float radius, float halfWidth, float a0, float a1);
// A point at an angle (degrees clockwise from twelve o'clock) on a circle.
inline float angleX(float cx, float r, float degrees) { return cx + r * std::sin(degrees * kPi / 180.0f); }
inline float angleY(float cy, float r, float degrees) { return cy - r * std::cos(degrees * kPi / 180.0f); }

// The engraved 5 x 7 pixel font (capitals, digits and a few signs), drawn scaled
// by a whole factor. Returns the width drawn.
int drawText(Canvas& canvas, int x, int y, const std::string& text, Rgb colour, int scale = 1, float opacity = 1.0f);
int textWidth(const std::string& text, int scale = 1);
