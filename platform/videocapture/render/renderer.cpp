// Renders markers through a camera with lens distortion.
//
// Every pixel corner is mapped once, observed -> ideal (kept per camera) -> marker
// plane, and labelled with the marker and texel it hits. A pixel whose four corners
// carry the same label is flat; only the others (edges) are supersampled, with ideal
// coordinates interpolated between the pixel's corners.
#include <algorithm>
#include <cmath>

#include "camera/distortion.h"
#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::synth {
namespace {

constexpr int EDGE_SAMPLES = 24;  // points per side when bounding a marker's observed outline
constexpr int CORNER_REACH = 3;   // pixels around a marker corner that are always supersampled
constexpr double MODEL_CORNERS[4][2] = {{-0.5, 0.5}, {0.5, 0.5}, {0.5, -0.5}, {-0.5, -0.5}};

// A marker made ready for one frame.
struct Placed {
    const MarkerFace* face;
    double half;  // half the width
    double texelsPerUnit;
    double toPlane[3][3];  // ideal image point (homogeneous) -> marker plane point (homogeneous)
    double sign;           // the sign of the plane point's third coordinate in front of the camera
    int x0, y0, x1, y1;    // pixel corners to label, inclusive
    uint32_t id;           // 1 + index
    double depth;
    double corners[4][2];  // observed
};

// Marker plane (X, Y, 1) -> ideal image point, homogeneous.
void planeToImage(const CameraParams& camera, const double pose[3][4], double h[3][3]) {
    const double(*p)[4] = camera.projection;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 2; ++c) h[r][c] = p[r][0] * pose[0][c] + p[r][1] * pose[1][c] + p[r][2] * pose[2][c];
        h[r][2] = p[r][0] * pose[0][3] + p[r][1] * pose[1][3] + p[r][2] * pose[2][3] + p[r][3];
    }
}

bool invert3(const double m[3][3], double inv[3][3]) {
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    if (!(std::fabs(det) > 1e-300) || !std::isfinite(det)) return false;
    const double d = 1.0 / det;
    inv[0][0] = c00 * d;
    inv[1][0] = c01 * d;
    inv[2][0] = c02 * d;
    inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * d;
    inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * d;
    inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * d;
    inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * d;
    inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * d;
    inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * d;
    return true;
}

void project(const CameraParams& camera, const double pose[3][4], double x, double y, double ideal[2], double* depth) {
    double point[3];
    for (int r = 0; r < 3; ++r) point[r] = pose[r][0] * x + pose[r][1] * y + pose[r][3];
    double image[3];
    for (int r = 0; r < 3; ++r)
        image[r] = camera.projection[r][0] * point[0] + camera.projection[r][1] * point[1] +
                   camera.projection[r][2] * point[2] + camera.projection[r][3];
    ideal[0] = image[0] / image[2];
    ideal[1] = image[1] / image[2];
    *depth = point[2];
}

// The bounding box of the marker's observed outline.
void observedBounds(const CameraParams& camera, const SceneMarker& marker, double bounds[4]) {
    bounds[0] = bounds[1] = HUGE_VAL;
    bounds[2] = bounds[3] = -HUGE_VAL;
    for (int side = 0; side < 4; ++side) {
        const double* a = MODEL_CORNERS[side];
        const double* b = MODEL_CORNERS[(side + 1) % 4];
        for (int k = 0; k < EDGE_SAMPLES; ++k) {
            const double f = static_cast<double>(k) / EDGE_SAMPLES;
            double ideal[2], depth, ox, oy;
            project(camera, marker.pose, marker.width * (a[0] + f * (b[0] - a[0])),
                    marker.width * (a[1] + f * (b[1] - a[1])), ideal, &depth);
            idealToObserved(camera.distortion, ideal[0], ideal[1], &ox, &oy);
            bounds[0] = std::min(bounds[0], ox);
            bounds[1] = std::min(bounds[1], oy);
            bounds[2] = std::max(bounds[2], ox);
            bounds[3] = std::max(bounds[3], oy);
        }
    }
}

// value as an int within [low, high], NaN as low. Clamped before the conversion, since a
// marker beside or just in front of the camera projects far beyond the int range.
int clampToInt(double value, int low, int high) {
    if (!(value > low)) return low;
    if (value >= high) return high;
    return static_cast<int>(value);
}

// The label of an ideal image point on a marker, 0 when it misses the marker.
inline uint32_t labelAt(const Placed& m, double u, double v) {
    const double q2 = m.toPlane[2][0] * u + m.toPlane[2][1] * v + m.toPlane[2][2];
    if (!(q2 * m.sign > 0)) return 0;
    const double inverse = 1.0 / q2;
    const double x = (m.toPlane[0][0] * u + m.toPlane[0][1] * v + m.toPlane[0][2]) * inverse;
    const double y = (m.toPlane[1][0] * u + m.toPlane[1][1] * v + m.toPlane[1][2]) * inverse;
    if (!(x >= -m.half && x < m.half && y > -m.half && y <= m.half)) return 0;
    const int n = m.face->size;
    const int column = std::min(n - 1, static_cast<int>((x + m.half) * m.texelsPerUnit));
    const int row = std::min(n - 1, static_cast<int>((m.half - y) * m.texelsPerUnit));
    const unsigned char* t = &m.face->bgr[(static_cast<std::size_t>(row) * n + column) * 3];
    return m.id << 24 | static_cast<uint32_t>(t[2]) << 16 | static_cast<uint32_t>(t[1]) << 8 | t[0];
}

inline uint64_t splitMix(uint64_t* state) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Standard normal quantiles at 4096 equally likely levels, scaled to unit variance:
// 12 random bits draw one Gaussian variate (bounded at 3.6 sigma).
constexpr int NOISE_LEVELS = 4096;

const std::vector<float>& noiseTable() {
    static const std::vector<float> table = [] {
        std::vector<double> quantiles(NOISE_LEVELS);
        double power = 0;
        for (int i = 0; i < NOISE_LEVELS; ++i) {
            // Solve 0.5 erfc(-z / sqrt 2) = p by bisection.
            const double p = (i + 0.5) / NOISE_LEVELS;
            double low = -10, high = 10;
            for (int step = 0; step < 60; ++step) {
                const double mid = 0.5 * (low + high);
                (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? low : high) = mid;
            }
            quantiles[i] = 0.5 * (low + high);
            power += quantiles[i] * quantiles[i];
        }
        const double scale = 1.0 / std::sqrt(power / NOISE_LEVELS);
        std::vector<float> values(NOISE_LEVELS);
        for (int i = 0; i < NOISE_LEVELS; ++i) values[i] = static_cast<float>(quantiles[i] * scale);
        return values;
    }();
    return table;
}

// Adds noise of the given sigma to the frame and writes it as BGRA.
void quantise(const std::vector<float>& colour, float sigma, uint64_t state, unsigned char* bgra) {
    const float* table = noiseTable().data();
    const std::size_t pixels = colour.size() / 3;
    uint64_t bits = 0;
    int left = 0;
    for (std::size_t p = 0; p < pixels; ++p) {
        for (int c = 0; c < 3; ++c) {
            float value = colour[p * 3 + c];
            if (sigma > 0) {
                if (left == 0) {
                    bits = splitMix(&state);
                    left = 5;
                }
                value += sigma * table[bits & (NOISE_LEVELS - 1)];
                bits >>= 12;
                --left;
            }
            bgra[p * 4 + c] = static_cast<unsigned char>(std::clamp(value, 0.0f, 255.0f) + 0.5f);
        }
        bgra[p * 4 + 3] = 255;
    }
}

// Separable Gaussian blur of a w x h x 3 frame in place, edges extended.
void blur(std::vector<float>& colour, std::vector<float>& scratch, int w, int h, double sigma) {
    const int radius = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<float> kernel(2 * radius + 1);
    float total = 0;
    for (int k = -radius; k <= radius; ++k)
        total += kernel[k + radius] = static_cast<float>(std::exp(-0.5 * k * k / (sigma * sigma)));
    for (float& weight : kernel) weight /= total;

    // Rows: through a copy of the row padded at both ends.
    std::vector<float> padded(static_cast<std::size_t>(w + 2 * radius) * 3);
    for (int y = 0; y < h; ++y) {
        float* row = &colour[static_cast<std::size_t>(y) * w * 3];
        for (int x = -radius; x < w + radius; ++x)
            for (int c = 0; c < 3; ++c) padded[(x + radius) * 3 + c] = row[std::clamp(x, 0, w - 1) * 3 + c];
        std::fill(row, row + w * 3, 0.0f);
        for (int k = 0; k <= 2 * radius; ++k) {
            const float weight = kernel[k];
            const float* in = &padded[k * 3];
            for (int i = 0; i < w * 3; ++i) row[i] += weight * in[i];
        }
    }
    // Columns: whole rows at a time.
    scratch.resize(colour.size());
    const std::size_t rowSize = static_cast<std::size_t>(w) * 3;
    for (int y = 0; y < h; ++y) {
        float* out = &scratch[y * rowSize];
        std::fill(out, out + rowSize, 0.0f);
        for (int k = -radius; k <= radius; ++k) {
            const float* in = &colour[std::clamp(y + k, 0, h - 1) * rowSize];
            const float weight = kernel[k + radius];
            for (std::size_t i = 0; i < rowSize; ++i) out[i] += weight * in[i];
        }
    }
    colour.swap(scratch);
}

}  // namespace

MarkerTruth markerTruth(const CameraParams& camera, const SceneMarker& marker) {
    MarkerTruth truth{};
    std::copy(&marker.pose[0][0], &marker.pose[0][0] + 12, &truth.pose[0][0]);
    truth.width = marker.width;
    bool front = true;
    for (int i = 0; i < 4; ++i) {
        double depth;
        project(camera, marker.pose, marker.width * MODEL_CORNERS[i][0], marker.width * MODEL_CORNERS[i][1],
                truth.ideal[i], &depth);
        idealToObserved(camera.distortion, truth.ideal[i][0], truth.ideal[i][1], &truth.observed[i][0],
                        &truth.observed[i][1]);
        front = front && depth > 1e-9 * marker.width;
    }
    // The printed face looks back at the camera when its normal points against the viewing ray.
    const double toward = marker.pose[0][2] * marker.pose[0][3] + marker.pose[1][2] * marker.pose[1][3] +
                          marker.pose[2][2] * marker.pose[2][3];
    truth.facing = front && toward < 0;
    if (truth.facing) {
        double bounds[4];
        observedBounds(camera, marker, bounds);
        truth.inside = bounds[0] >= 1.5 && bounds[1] >= 1.5 && bounds[2] <= camera.imageWidth - 2.5 &&
                       bounds[3] <= camera.imageHeight - 2.5;
    }
    return truth;
}

Renderer::Renderer(const CameraParams& camera)
    : camera_(camera), width_(std::max(1, camera.imageWidth)), height_(std::max(1, camera.imageHeight)) {
    const std::size_t corners = static_cast<std::size_t>(width_ + 1) * (height_ + 1);
    cornerIdeal_.resize(corners * 2);
    for (int j = 0; j <= height_; ++j)
        for (int i = 0; i <= width_; ++i) {
            double* ideal = &cornerIdeal_[(static_cast<std::size_t>(j) * (width_ + 1) + i) * 2];
            observedToIdeal(camera_.distortion, i - 0.5, j - 0.5, &ideal[0], &ideal[1]);
        }
    labels_.resize(corners);
    colour_.resize(static_cast<std::size_t>(width_) * height_ * 3);
}

void Renderer::render(const std::vector<SceneMarker>& markers, const RenderOptions& options, uint64_t frameSeed,
                      unsigned char* bgra, std::vector<MarkerTruth>* truth) {
    const int w = width_, h = height_;
    const std::size_t stride = static_cast<std::size_t>(w) + 1;

    // Prepare the markers that face the camera, far ones first.
    std::vector<Placed> placed;
    for (std::size_t index = 0; index < markers.size() && index < 255; ++index) {
        const SceneMarker& marker = markers[index];
        const MarkerTruth seen = markerTruth(camera_, marker);
        if (truth) truth->push_back(seen);
        if (!seen.facing || !marker.face || marker.face->size <= 0) continue;
        Placed m;
        m.face = marker.face;
        m.half = marker.width / 2;
        m.texelsPerUnit = marker.face->size / marker.width;
        m.id = static_cast<uint32_t>(index + 1);
        m.depth = marker.pose[2][3];
        std::copy(&seen.observed[0][0], &seen.observed[0][0] + 8, &m.corners[0][0]);
        double toImage[3][3];
        planeToImage(camera_, marker.pose, toImage);
        if (!invert3(toImage, m.toPlane)) continue;
        m.sign = toImage[2][2] > 0 ? 1.0 : -1.0;
        double bounds[4];
        observedBounds(camera_, marker, bounds);
        // Pixel corner i sits at observed x = i - 0.5.
        m.x0 = clampToInt(std::floor(bounds[0]) - 1, 0, w);
        m.y0 = clampToInt(std::floor(bounds[1]) - 1, 0, h);
        m.x1 = clampToInt(std::ceil(bounds[2]) + 2, 0, w);
        m.y1 = clampToInt(std::ceil(bounds[3]) + 2, 0, h);
        if (m.x0 >= m.x1 || m.y0 >= m.y1) continue;
        placed.push_back(m);
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.depth > b.depth; });

    std::fill(labels_.begin(), labels_.end(), 0u);
    for (const Placed& m : placed)
        for (int j = m.y0; j <= m.y1; ++j)
            for (int i = m.x0; i <= m.x1; ++i) {
                const std::size_t k = j * stride + i;
                const uint32_t label = labelAt(m, cornerIdeal_[2 * k], cornerIdeal_[2 * k + 1]);
                if (label) labels_[k] = label;
            }

    const float background = static_cast<float>(options.background);
    // Illumination falls linearly from the top-left corner to the bottom-right one.
    lightX_.resize(w);
    lightY_.resize(h);
    for (int x = 0; x < w; ++x) lightX_[x] = static_cast<float>(options.gradient * 0.5 * x / std::max(1, w - 1));
    for (int y = 0; y < h; ++y) lightY_[y] = static_cast<float>(1.0 - options.gradient * 0.5 * y / std::max(1, h - 1));
    auto illumination = [&](int x, int y) { return lightY_[y] - lightX_[x]; };
    // Supersamples pixel (x, y) with s x s samples at s^2 distinct columns and rows, each
    // shifted within its stratum by an offset hashed from the pixel: along a straight
    // side the leftover errors scatter and average out instead of adding up.
    const int s = std::clamp(options.supersample, 1, 16);
    auto supersample = [&](int x, int y, float colour[3]) {
        uint64_t hash = static_cast<uint64_t>(y) << 32 | static_cast<uint32_t>(x);
        const uint64_t bits = splitMix(&hash);
        const double jitterX = (bits & 0xFFFF) / 65536.0, jitterY = ((bits >> 16) & 0xFFFF) / 65536.0;
        const double* c00 = &cornerIdeal_[(y * stride + x) * 2];
        const double* c10 = c00 + 2;
        const double* c01 = &cornerIdeal_[((y + 1) * stride + x) * 2];
        const double* c11 = c01 + 2;
        float sum[3] = {0, 0, 0};
        for (int a = 0; a < s; ++a)
            for (int b = 0; b < s; ++b) {
                const double fx = (a + (b + jitterX) / s) / s, fy = (b + (a + jitterY) / s) / s;
                const double u = (1 - fy) * ((1 - fx) * c00[0] + fx * c10[0]) + fy * ((1 - fx) * c01[0] + fx * c11[0]);
                const double v = (1 - fy) * ((1 - fx) * c00[1] + fx * c10[1]) + fy * ((1 - fx) * c01[1] + fx * c11[1]);
                uint32_t label = 0;
                for (auto m = placed.rbegin(); m != placed.rend() && !label; ++m)
                    if (x + 1 >= m->x0 && x <= m->x1 && y + 1 >= m->y0 && y <= m->y1) label = labelAt(*m, u, v);
                if (label) {
                    sum[0] += label & 0xFF;
                    sum[1] += (label >> 8) & 0xFF;
                    sum[2] += (label >> 16) & 0xFF;
                } else {
                    sum[0] += background;
                    sum[1] += background;
                    sum[2] += background;
                }
            }
        const float light = illumination(x, y) / static_cast<float>(s * s);
        for (int c = 0; c < 3; ++c) colour[c] = sum[c] * light;
    };

    for (int y = 0; y < h; ++y) {
        const uint32_t* top = &labels_[y * stride];
        const uint32_t* bottom = top + stride;
        for (int x = 0; x < w; ++x) {
            float* colour = &colour_[(static_cast<std::size_t>(y) * w + x) * 3];
            const uint32_t label = top[x];
            if (label == top[x + 1] && label == bottom[x] && label == bottom[x + 1]) {
                const float light = illumination(x, y);
                if (label) {
                    colour[0] = (label & 0xFF) * light;
                    colour[1] = ((label >> 8) & 0xFF) * light;
                    colour[2] = ((label >> 16) & 0xFF) * light;
                } else {
                    colour[0] = colour[1] = colour[2] = background * light;
                }
            } else {
                supersample(x, y, colour);
            }
        }
    }
    // Near a marker corner, a thin wedge can cross pixels without covering any of their corners.
    for (const Placed& m : placed) {
        for (const auto& corner : m.corners) {
            const int cx = clampToInt(std::round(corner[0]), -CORNER_REACH - 1, w + CORNER_REACH);
            const int cy = clampToInt(std::round(corner[1]), -CORNER_REACH - 1, h + CORNER_REACH);
            for (int y = std::max(0, cy - CORNER_REACH); y <= std::min(h - 1, cy + CORNER_REACH); ++y)
                for (int x = std::max(0, cx - CORNER_REACH); x <= std::min(w - 1, cx + CORNER_REACH); ++x)
                    supersample(x, y, &colour_[(static_cast<std::size_t>(y) * w + x) * 3]);
        }
    }

    if (options.blur > 0) blur(colour_, scratch_, w, h, options.blur);
    quantise(colour_, static_cast<float>(std::max(0.0, options.noise)),
             options.seed * 0x9E3779B97F4A7C15ull ^ (frameSeed + 0x632BE59BD9B4E019ull), bgra);
}

}  // namespace zelk::synth
