// The synthetic renderer against its own ground truth.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "camera/distortion.h"
#include "platform/videocapture/render/synthetic_scene.h"
#include "tests/platform/scene_files.h"

namespace {

using namespace zelk::synth;

// Camera-from-marker pose: facing the camera, turned in plane by spin, tilted by tilt
// about the camera's x axis, at position t.
struct Pose {
    double spin, tilt, x, y, z;
};

void makePose(const Pose& p, double pose[3][4]) {
    const double s = p.spin * M_PI / 180, t = p.tilt * M_PI / 180;
    const double turn[3][3] = {{std::cos(s), -std::sin(s), 0}, {std::sin(s), std::cos(s), 0}, {0, 0, 1}};
    const double tiltAboutX[3][3] = {{1, 0, 0}, {0, std::cos(t), -std::sin(t)}, {0, std::sin(t), std::cos(t)}};
    const double facing[3] = {1, -1, -1};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            pose[r][c] = 0;
            for (int k = 0; k < 3; ++k) pose[r][c] += tiltAboutX[r][k] * facing[k] * turn[k][c];
        }
    }
    pose[0][3] = p.x;
    pose[1][3] = p.y;
    pose[2][3] = p.z;
}

// A marker-plane point seen through the camera, in observed coordinates.
void observe(const zelk::CameraParams& camera, const double pose[3][4], double x, double y, double out[2]) {
    double point[3], image[3];
    for (int r = 0; r < 3; ++r) point[r] = pose[r][0] * x + pose[r][1] * y + pose[r][3];
    for (int r = 0; r < 3; ++r)
        image[r] = camera.projection[r][0] * point[0] + camera.projection[r][1] * point[1] +
                   camera.projection[r][2] * point[2] + camera.projection[r][3];
    zelk::idealToObserved(camera.distortion, image[0] / image[2], image[1] / image[2], &out[0], &out[1]);
}

struct Moments {
    double area, x, y;
};

// Area and centroid of the marker's observed outline, from densely sampled sides.
Moments outlineMoments(const zelk::CameraParams& camera, const SceneMarker& marker) {
    const double h = marker.width / 2;
    const double corners[5][2] = {{-h, h}, {h, h}, {h, -h}, {-h, -h}, {-h, h}};
    std::vector<std::array<double, 2>> outline;
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k < 500; ++k) {
            const double f = k / 500.0;
            std::array<double, 2> p;
            observe(camera, marker.pose, corners[side][0] + f * (corners[side + 1][0] - corners[side][0]),
                    corners[side][1] + f * (corners[side + 1][1] - corners[side][1]), p.data());
            outline.push_back(p);
        }
    double area = 0, cx = 0, cy = 0;
    for (std::size_t i = 0; i < outline.size(); ++i) {
        const auto& a = outline[i];
        const auto& b = outline[(i + 1) % outline.size()];
        const double cross = a[0] * b[1] - b[0] * a[1];
        area += cross;
        cx += (a[0] + b[0]) * cross;
        cy += (a[1] + b[1]) * cross;
    }
    return {std::fabs(area / 2), cx / (3 * area), cy / (3 * area)};
}

// Darkness of blue plane as coverage: 0 on the white background, 1 on black.
Moments darkMoments(const std::vector<unsigned char>& frame, int width, int height) {
    double area = 0, x = 0, y = 0;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            const double cover = (255.0 - frame[(static_cast<std::size_t>(row) * width + column) * 4]) / 255.0;
            area += cover;
            x += cover * column;
            y += cover * row;
        }
    return {area, x / area, y / area};
}

struct Rendered {
    std::vector<unsigned char> frame;
    std::vector<MarkerTruth> truth;
};

// One 640 x 480 frame of the markers through the camera.
Rendered renderFrame(const zelk::CameraParams& camera, const std::vector<SceneMarker>& markers,
                     const RenderOptions& options, uint64_t seed = 0) {
    Rendered out;
    out.frame.resize(640 * 480 * 4);
    Renderer(camera).render(markers, options, seed, out.frame.data(), &out.truth);
    return out;
}

struct FaithCase {
    const char* name;
    Pose pose;
    double distortion;
    double blur;
};

class RenderFaith : public ::testing::TestWithParam<FaithCase> {};

TEST_P(RenderFaith, DarkAreaAndCentroidMatchTheOutline) {
    const FaithCase& c = GetParam();
    const zelk::CameraParams camera = testCamera(c.distortion);
    const MarkerFace face = patternFace(plainPicture(0).value);
    SceneMarker marker;
    marker.face = &face;
    marker.width = 80;
    makePose(c.pose, marker.pose);
    RenderOptions options;
    options.background = 255;
    options.blur = c.blur;
    const auto [frame, truth] = renderFrame(camera, {marker}, options);
    ASSERT_EQ(truth.size(), 1u);
    ASSERT_TRUE(truth[0].inside);

    const Moments expected = outlineMoments(camera, marker);
    const Moments seen = darkMoments(frame, 640, 480);
    EXPECT_NEAR(seen.area, expected.area, 0.002 * expected.area);
    EXPECT_NEAR(seen.x, expected.x, 0.02);
    EXPECT_NEAR(seen.y, expected.y, 0.02);
    // The truth's observed corners are the outline's corners.
    for (int i = 0; i < 4; ++i) {
        double corner[2];
        observe(camera, marker.pose, (i == 1 || i == 2 ? 40 : -40), (i < 2 ? 40 : -40), corner);
        EXPECT_NEAR(truth[0].observed[i][0], corner[0], 1e-9);
        EXPECT_NEAR(truth[0].observed[i][1], corner[1], 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Poses, RenderFaith,
                         ::testing::Values(FaithCase{"square", {0, 0, 0.3, -0.7, 500}, 0, 0},
                                           FaithCase{"squareDistorted", {0, 0, 0.3, -0.7, 500}, 30, 0},
                                           FaithCase{"turnedOffCentre", {30, 0, -150, 80, 600}, 0, 0},
                                           FaithCase{"turnedOffCentreDistorted", {30, 0, -150, 80, 600}, 30, 0},
                                           FaithCase{"tilted", {20, 50, 120, -60, 700}, 0, 0},
                                           FaithCase{"tiltedDistorted", {20, 50, 120, -60, 700}, 30, 0},
                                           FaithCase{"steepInCornerDistorted", {-65, 70, -230, -150, 650}, 30, 0},
                                           FaithCase{"pincushion", {10, 30, 200, 100, 600}, -30, 0},
                                           FaithCase{"blurred", {30, 40, -100, 50, 550}, 30, 1.2}),
                         [](const ::testing::TestParamInfo<FaithCase>& info) { return std::string(info.param.name); });

TEST(Render, SquareEdgesSitWhereTheTruthPutsThem) {
    // Upright and square to the camera: the sides are straight rows and columns.
    const zelk::CameraParams camera = testCamera(0);
    const MarkerFace face = patternFace(plainPicture(0).value);
    for (const double shift : {0.0, 0.1, 0.23, 0.37, 0.5, 0.61, 0.77, 0.9}) {
        SceneMarker marker;
        marker.face = &face;
        makePose({0, 0, shift * 500 / 700, shift * 0.6 * 500 / 700, 500}, marker.pose);
        RenderOptions options;
        options.background = 255;
        const Rendered rendered = renderFrame(camera, {marker}, options);
        const std::vector<unsigned char>& frame = rendered.frame;
        const std::vector<MarkerTruth>& truth = rendered.truth;
        const double left = truth[0].ideal[0][0], right = truth[0].ideal[1][0];
        const double top = truth[0].ideal[0][1], bottom = truth[0].ideal[3][1];
        ASSERT_LT(left, right);
        ASSERT_LT(top, bottom);
        auto cover = [&](int x, int y) { return (255.0 - frame[(static_cast<std::size_t>(y) * 640 + x) * 4]) / 255.0; };
        // Sum the coverage across the middle row and column: their lengths are the side lengths.
        const int row = static_cast<int>((top + bottom) / 2), column = static_cast<int>((left + right) / 2);
        double across = 0, down = 0, leftEdge = 0, topEdge = 0;
        for (int x = 0; x < 640; ++x) across += cover(x, row);
        for (int y = 0; y < 480; ++y) down += cover(column, y);
        // The partly covered pixel left of the side tells the side's position.
        const int firstColumn = static_cast<int>(std::floor(left + 0.5));
        leftEdge = firstColumn + 0.5 - cover(firstColumn, row);
        const int firstRow = static_cast<int>(std::floor(top + 0.5));
        topEdge = firstRow + 0.5 - cover(column, firstRow);
        EXPECT_NEAR(across, right - left, 0.02) << shift;
        EXPECT_NEAR(down, bottom - top, 0.02) << shift;
        EXPECT_NEAR(leftEdge, left, 0.02) << shift;
        EXPECT_NEAR(topEdge, top, 0.02) << shift;
    }
}

TEST(Render, CornersAreInPrintedOrderAndThePictureIsUpright) {
    const zelk::CameraParams camera = testCamera(30);
    const MarkerFace face = patternFace(quadrantPicture().value);
    for (const Pose& p : {Pose{0, 0, 0, 0, 500}, Pose{40, 25, -80, 60, 600}, Pose{-150, 55, 150, -90, 700},
                          Pose{100, -40, 60, 100, 550}}) {
        SceneMarker marker;
        marker.face = &face;
        makePose(p, marker.pose);
        RenderOptions options;
        const auto [frame, truth] = renderFrame(camera, {marker}, options);
        for (int corner = 0; corner < 4; ++corner) {
            // Part way from the corner toward the centre lies the corner's quadrant.
            double at[2];
            observe(camera, marker.pose, 0.35 * (corner == 1 || corner == 2 ? 40 : -40), 0.35 * (corner < 2 ? 40 : -40),
                    at);
            const unsigned char* pixel = &frame[(std::lround(at[1]) * 640 + std::lround(at[0])) * 4];
            for (int plane = 0; plane < 3; ++plane)
                EXPECT_EQ(pixel[plane], QUADRANT_COLOURS[corner][plane]) << p.spin << " corner " << corner;
        }
        if (p.spin == 0 && p.tilt == 0) {
            // Square to the camera and upright: the first corner is the top-left one.
            EXPECT_LT(truth[0].ideal[0][0], truth[0].ideal[1][0]);
            EXPECT_LT(truth[0].ideal[0][1], truth[0].ideal[3][1]);
            EXPECT_DOUBLE_EQ(truth[0].pose[1][1], -1);
        }
    }
}

TEST(Render, BackFacingAndBehindMarkersAreNotDrawn) {
    const zelk::CameraParams camera = testCamera(0);
    const MarkerFace face = patternFace(plainPicture(0).value);
    SceneMarker away, behind;
    away.face = behind.face = &face;
    makePose({0, 180, 0, 0, 500}, away.pose);
    makePose({0, 0, 0, 0, -500}, behind.pose);
    RenderOptions options;
    options.background = 90;
    const auto [frame, truth] = renderFrame(camera, {away, behind}, options);
    ASSERT_EQ(truth.size(), 2u);
    EXPECT_FALSE(truth[0].facing);
    EXPECT_FALSE(truth[1].facing);
    EXPECT_FALSE(truth[0].inside);
    for (std::size_t i = 0; i < frame.size(); i += 4) ASSERT_EQ(frame[i], 90);
}

// Markers whose outline projects far past the int range: beside the camera they leave the
// frame blank, covering the whole view they darken all of it.
struct FarCase {
    const char* name;
    Pose pose;
    double width;
    unsigned char expected;
};

class RenderFar : public ::testing::TestWithParam<FarCase> {};

TEST_P(RenderFar, OutlinesBeyondTheIntRangeAreClampedToTheFrame) {
    const FarCase& c = GetParam();
    const MarkerFace face = patternFace(plainPicture(0).value);
    SceneMarker marker;
    marker.face = &face;
    marker.width = c.width;
    makePose(c.pose, marker.pose);
    RenderOptions options;
    options.background = 90;
    const auto [frame, truth] = renderFrame(testCamera(0), {marker}, options);
    for (std::size_t i = 0; i < frame.size(); i += 4) ASSERT_EQ(frame[i], c.expected) << "pixel " << i / 4;
}

INSTANTIATE_TEST_SUITE_P(Render, RenderFar,
                         ::testing::Values(FarCase{"right", {0, 0, 1e12, 0, 600}, 80, 90},
                                           FarCase{"above", {30, 20, 0, -1e12, 600}, 80, 90},
                                           FarCase{"covering", {0, 0, 0, 0, 10}, 1e9, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Render, NoiseHasItsSigmaAndFollowsTheSeed) {
    const zelk::CameraParams camera = testCamera(0);
    RenderOptions options;
    options.background = 128;
    options.noise = 4;
    const std::vector<unsigned char> a = renderFrame(camera, {}, options, 1).frame;
    const std::vector<unsigned char> b = renderFrame(camera, {}, options, 1).frame;
    const std::vector<unsigned char> c = renderFrame(camera, {}, options, 2).frame;
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    double sum = 0, squares = 0, count = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;
        sum += a[i];
        squares += a[i] * static_cast<double>(a[i]);
        ++count;
    }
    const double mean = sum / count;
    EXPECT_NEAR(mean, 128, 0.05);
    EXPECT_NEAR(std::sqrt(squares / count - mean * mean), std::sqrt(16 + 1 / 12.0), 0.05);
}

TEST(Render, GradientDarkensTowardTheBottomRight) {
    const zelk::CameraParams camera = testCamera(0);
    RenderOptions options;
    options.background = 200;
    options.gradient = 0.5;
    const std::vector<unsigned char> frame = renderFrame(camera, {}, options).frame;
    EXPECT_EQ(frame[0], 200);
    EXPECT_EQ(frame[frame.size() - 4], 100);
    EXPECT_EQ(frame[(240 * 640 + 0) * 4], 175);  // 200 x (1 - 0.5 x 0.5 x 240 / 479)
}

TEST(MarkerPath, MarkersStayApartInsideTheFrameWithinTheirTilt) {
    const zelk::CameraParams camera = testCamera(30);
    PathRanges ranges;
    ranges.distance[0] = 250;
    ranges.distance[1] = 1200;
    ranges.tilt[1] = 50;
    const MarkerFace face = patternFace(plainPicture(0).value);
    bool turned[4] = {};
    for (int frame = 0; frame < 600; frame += 3) {
        std::vector<std::array<double, 4>> boxes;
        for (int i = 0; i < 3; ++i) {
            SceneMarker marker;
            marker.face = &face;
            pathPose(camera, ranges, 80, i, 3, frame / 30.0, marker.pose);
            const MarkerTruth truth = markerTruth(camera, marker);
            ASSERT_TRUE(truth.inside) << frame << " " << i;
            const double tilt = std::acos(-marker.pose[2][2]) * 180 / M_PI;
            EXPECT_LE(tilt, 50 + 1e-6);
            std::array<double, 4> box = {1e9, 1e9, -1e9, -1e9};
            for (const auto& corner : truth.observed) {
                box[0] = std::min(box[0], corner[0]);
                box[1] = std::min(box[1], corner[1]);
                box[2] = std::max(box[2], corner[0]);
                box[3] = std::max(box[3], corner[1]);
            }
            for (const auto& other : boxes)
                EXPECT_TRUE(box[2] < other[0] || other[2] < box[0] || box[3] < other[1] || other[3] < box[1]) << frame;
            boxes.push_back(box);
            // Which way the picture's up points in the image.
            const double up = std::atan2(-marker.pose[1][1], marker.pose[0][1]);
            turned[static_cast<int>(std::floor((up + M_PI) / (M_PI / 2))) % 4] = true;
        }
    }
    EXPECT_TRUE(turned[0] && turned[1] && turned[2] && turned[3]);
}

}  // namespace
