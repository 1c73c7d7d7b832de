#include "bench/scenes.h"

#include <algorithm>
#include <map>
#include <random>
#include <tuple>

const TestFrame& markerScene(int width, int height, int markers) {
    static std::map<std::tuple<int, int, int>, TestFrame> cache;
    TestFrame& f = cache[{width, height, markers}];
    if (!f.bytes.empty()) return f;
    f = blankFrame(width, height);
    std::mt19937 rng(unsigned(width * 31 + height * 7 + markers));
    std::uniform_int_distribution<int> grey(150, 230);
    for (size_t i = 0; i < f.bytes.size(); i += 4)
        for (int k = 0; k < 3; ++k) f.bytes[i + k] = uint8_t(grey(rng));
    // Markers on a grid of cells, one per cell, each a little turned.
    const int columns = markers > 1 ? 2 : 1, rows = (markers + columns - 1) / columns;
    for (int m = 0; m < markers; ++m) {
        const double cellW = double(width) / columns, cellH = double(height) / rows;
        const double cx = cellW * (m % columns + 0.5), cy = cellH * (m / columns + 0.5);
        const double size = 0.55 * std::min(cellW, cellH);
        const double angle = 0.15 + 0.3 * m;
        drawMarkerBorder(f, cx, cy, size, angle, Bgra{20, 25, 30, 255}, Bgra{235, 235, 235, 255});
        fillPolygon(f, squareCorners(cx - size / 12, cy + size / 14, size / 5, angle), Bgra{15, 15, 15, 255});
    }
    return f;
}

const TestFrame& dotLatticeScene(int width, int height) {
    static std::map<std::pair<int, int>, TestFrame> cache;
    TestFrame& f = cache[{width, height}];
    if (!f.bytes.empty()) return f;
    f = blankFrame(width, height);
    for (int y = 1; y < height; y += 2)
        for (int x = 1; x < width; x += 2) f.set(x, y, kBlack);
    return f;
}

