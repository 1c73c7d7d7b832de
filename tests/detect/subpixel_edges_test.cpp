#include "detect/subpixel_edges.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "detect/edge_lines.h"
#include "platform/videocapture/render/synthetic_scene.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/pose_fixtures.h"

namespace {

// A rendered marker and its true ideal corners, in the record's corner order.
struct Scene {
    zelk::CameraParams camera;
    std::vector<unsigned char> frame;
    zelk::synth::MarkerTruth truth;
    zelk::FrameImage view() const {
        return {frame.data(), camera.imageWidth, camera.imageHeight, camera.imageWidth * 4};
    }
};

Scene render(double radial, double distance, double tilt, double blur, double noise) {
    Scene s{pinholeCamera(), {}, {}};
    s.camera.distortion[2] = radial;
    static const zelk::synth::MarkerFace face = zelk::synth::patternFace(makePatternPicture(1).value);
    std::vector<zelk::synth::SceneMarker> markers(1);
    markers[0].face = &face;
    viewPose(-30, 20, distance, tilt, 35, 25, markers[0].pose);
    zelk::synth::RenderOptions options;
    options.blur = blur;
    options.noise = noise;
    options.gradient = 0.3;
    s.frame.resize(size_t(s.camera.imageWidth) * s.camera.imageHeight * 4);
    std::vector<zelk::synth::MarkerTruth> truth;
    zelk::synth::Renderer(s.camera).render(markers, options, 9, s.frame.data(), &truth);
    s.truth = truth[0];
    return s;
}

// Lines through the true corners moved `inward` pixels towards the centre: a coarse fit.
void coarseFit(const Scene& s, double inward, double lines[4][3], double corners[4][2]) {
    double centre[2] = {0, 0};
    for (const auto& c : s.truth.ideal) centre[0] += c[0] / 4, centre[1] += c[1] / 4;
    for (int i = 0; i < 4; i++) {
        const double* a = s.truth.ideal[i];
        const double* b = s.truth.ideal[(i + 1) % 4];
        double n[2] = {b[1] - a[1], a[0] - b[0]};
        const double length = std::hypot(n[0], n[1]);
        n[0] /= length, n[1] /= length;
        if (n[0] * (centre[0] - a[0]) + n[1] * (centre[1] - a[1]) < 0) n[0] = -n[0], n[1] = -n[1];
        lines[i][0] = n[0], lines[i][1] = n[1];
        lines[i][2] = -(n[0] * (a[0] + inward * n[0]) + n[1] * (a[1] + inward * n[1]));
    }
    // The record's corner i joins sides i-1 and i; the truth's corner i starts side i.
    ASSERT_EQ(zelk::intersectEdgeLines(lines, corners), 0);
}

// (radial factor, distance, tilt, blur sigma): the refined corners land on the true ones.
using Case = std::tuple<double, double, double, double>;
class RenderedMarker : public testing::TestWithParam<Case> {};

TEST_P(RenderedMarker, CornersLandOnTheTrueEdge) {
    const auto [radial, distance, tilt, blur] = GetParam();
    const Scene s = render(radial, distance, tilt, blur, 2);
    double lines[4][3], corners[4][2];
    coarseFit(s, 0.8, lines, corners);
    const zelk::FrameImage frame = s.view();
    ASSERT_EQ(zelk::refineEdgeLines(&frame, s.camera.distortion, lines, corners), 0);
    double worst = 0;
    for (int i = 0; i < 4; i++)
        worst = std::fmax(worst, std::hypot(corners[i][0] - s.truth.ideal[i][0], corners[i][1] - s.truth.ideal[i][1]));
    EXPECT_LT(worst, 0.08);
}

INSTANTIATE_TEST_SUITE_P(Views, RenderedMarker,
                         testing::Combine(testing::Values(0.0, 30.0), testing::Values(350.0, 1200.0),
                                          testing::Values(0.0, 50.0), testing::Values(0.0, 1.2)));

// Nothing to read: a blank frame, a square running out of the frame, corners not finite, a
// frame record that cannot be read. All fail and leave the lines and corners as they were.
TEST(Unreadable, FailsAndLeavesTheFitAlone) {
    const Scene s = render(0, 500, 20, 0, 0);
    const std::vector<unsigned char> blank(s.frame.size(), 200);
    double lines[4][3], corners[4][2];
    coarseFit(s, 0.8, lines, corners);
    double shifted[4][2], nan[4][2];
    for (int i = 0; i < 4; i++) {
        shifted[i][0] = corners[i][0] + 500, shifted[i][1] = corners[i][1];
        nan[i][0] = corners[i][0], nan[i][1] = i == 2 ? NAN : corners[i][1];
    }
    const int w = s.camera.imageWidth, h = s.camera.imageHeight;
    const struct {
        zelk::FrameImage view;
        const double (*corners)[2];
    } cases[] = {{{blank.data(), w, h, w * 4}, corners},
                 {s.view(), shifted},
                 {s.view(), nan},
                 {{nullptr, w, h, w * 4}, corners},
                 {{s.frame.data(), w, h, w * 2}, corners},
                 {{s.frame.data(), 1, 1, 4}, corners}};
    for (const auto& c : cases) {
        double l[4][3], k[4][2];
        std::memcpy(l, lines, sizeof l);
        std::memcpy(k, c.corners, sizeof k);
        EXPECT_EQ(zelk::refineEdgeLines(&c.view, s.camera.distortion, l, k), -1);
        EXPECT_EQ(std::memcmp(l, lines, sizeof l), 0);
        EXPECT_EQ(std::memcmp(k, c.corners, sizeof k), 0);
    }
}

}  // namespace
