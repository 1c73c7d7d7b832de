// The synthetic renderer: one 640 x 480 frame of three moving markers.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/videocapture/render/synthetic_scene.h"

namespace {

zelk::CameraParams benchCamera() {
    zelk::CameraParams camera{};
    camera.imageWidth = 640;
    camera.imageHeight = 480;
    camera.projection[0][0] = camera.projection[1][1] = 700;
    camera.projection[0][2] = camera.distortion[0] = 319.5;
    camera.projection[1][2] = camera.distortion[1] = 239.5;
    camera.projection[2][2] = 1;
    camera.distortion[2] = 30;
    camera.distortion[3] = 1;
    return camera;
}

// A face of size x size texels: black border, a checkerboard of 4 x 4 blocks inside.
zelk::synth::MarkerFace checkerFace(int size) {
    zelk::synth::MarkerFace face;
    face.size = size;
    face.bgr.assign(static_cast<std::size_t>(size) * size * 3, 0);
    for (int row = size / 4; row < size * 3 / 4; ++row)
        for (int column = size / 4; column < size * 3 / 4; ++column)
            if ((row * 8 / size + column * 8 / size) % 2)
                for (int plane = 0; plane < 3; ++plane) face.bgr[(row * size + column) * 3 + plane] = 255;
    return face;
}

// range(0): texels per side; range(1): 1 with noise 2 and blur 0.6; range(2): supersampling.
void BM_RenderFrame(benchmark::State& state) {
    const zelk::CameraParams camera = benchCamera();
    const zelk::synth::MarkerFace face = checkerFace(static_cast<int>(state.range(0)));
    zelk::synth::RenderOptions options;
    options.supersample = static_cast<int>(state.range(2));
    if (state.range(1)) {
        options.noise = 2;
        options.blur = 0.6;
    }
    zelk::synth::Renderer renderer(camera);
    zelk::synth::PathRanges ranges;
    std::vector<unsigned char> frame(640 * 480 * 4);
    int index = 0;
    for (auto _ : state) {
        std::vector<zelk::synth::SceneMarker> markers(3);
        for (int i = 0; i < 3; ++i) {
            markers[i].face = &face;
            zelk::synth::pathPose(camera, ranges, 80, i, 3, index / 30.0, markers[i].pose);
        }
        renderer.render(markers, options, static_cast<uint64_t>(index), frame.data());
        benchmark::DoNotOptimize(frame.data());
        index = (index + 1) % 300;
    }
}
BENCHMARK(BM_RenderFrame)
    ->Args({32, 0, 8})
    ->Args({32, 1, 8})
    ->Args({512, 0, 8})
    ->Args({512, 1, 8})
    ->Args({32, 0, 4})
    ->Unit(benchmark::kMillisecond);

}  // namespace
