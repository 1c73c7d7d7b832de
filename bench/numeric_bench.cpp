// Line fitting's numeric stages: the PCA of one marker side and the undistortion of a point.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "camera/distortion.h"
#include "numeric/pca.h"

namespace {

const double CAMERA[4] = {318.5, 263.5, 26.2, 1.0127};

void BM_ComputePcaSide(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    zelk::DenseMatrix* points = zelk::createMatrix(n, 2);
    zelk::DenseMatrix* axes = zelk::createMatrix(2, 2);
    zelk::DenseVector* ratios = zelk::createVector(2);
    zelk::DenseVector* mean = zelk::createVector(2);
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 0.3);
    for (int i = 0; i < n; i++) {
        points->data[2 * i] = 120.0 + 0.8 * i + noise(rng);
        points->data[2 * i + 1] = 200.0 + 0.6 * i + noise(rng);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(zelk::computePca(points, axes, ratios, mean));
        benchmark::ClobberMemory();
    }
    zelk::destroyMatrix(points);
    zelk::destroyMatrix(axes);
    zelk::destroyVector(ratios);
    zelk::destroyVector(mean);
}
BENCHMARK(BM_ComputePcaSide)->Arg(100);

void BM_ObservedToIdeal(benchmark::State& state) {
    // Walk a diagonal of the frame so that every call sees a different point.
    double t = 0;
    for (auto _ : state) {
        double ix, iy;
        benchmark::DoNotOptimize(zelk::observedToIdeal(CAMERA, 640 * t, 480 * t, &ix, &iy));
        benchmark::DoNotOptimize(ix);
        benchmark::DoNotOptimize(iy);
        t = t < 1 ? t + 0.001 : 0;
    }
}
BENCHMARK(BM_ObservedToIdeal);

}  // namespace
