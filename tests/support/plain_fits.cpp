#include "tests/support/plain_fits.h"

#include <cmath>
#include <vector>

#include "numeric/pca.h"

using namespace zelk;

int plainPca(const DenseMatrix* points, DenseMatrix* axes, DenseVector* ratios, DenseVector* mean) {
    const int n = points->rows, m = points->cols;
    std::vector<double> y(points->data, points->data + n * m);
    for (int j = 0; j < m; j++) mean->data[j] = 0.0;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < m; j++) mean->data[j] += y[i * m + j];
    for (int j = 0; j < m; j++) mean->data[j] /= n;
    for (int j = 0; j < m; j++)
        if (!std::isfinite(mean->data[j])) return -1;
    const double scale = std::sqrt(static_cast<double>(n));
    for (int i = 0; i < n; i++)
        for (int j = 0; j < m; j++) y[i * m + j] = (y[i * m + j] - mean->data[j]) / scale;
    std::vector<double> spread(m * m);
    for (int i = 0; i < m; i++)
        for (int j = i; j < m; j++) {
            double sum = 0.0;
            for (int r = 0; r < n; r++) sum += y[r * m + i] * y[r * m + j];
            spread[i * m + j] = spread[j * m + i] = sum;
        }
    for (double v : spread)
        if (!std::isfinite(v)) return -1;
    DenseMatrix s = {spread.data(), m, m};
    if (symmetricEigen(&s, ratios) < 0) return -1;
    bool kept = true;
    for (int i = 0; i < m; i++) {
        kept = kept && ratios->data[i] >= 1e-16;
        if (!kept) ratios->data[i] = 0.0;
        for (int c = 0; c < m; c++) axes->data[i * m + c] = kept ? spread[i * m + c] : 0.0;
    }
    double sum = 0.0;
    for (int i = 0; i < m; i++) sum += ratios->data[i];
    for (int i = 0; i < m; i++) ratios->data[i] = sum > 0.0 ? ratios->data[i] / sum : 0.0;
    return 0;
}

namespace {

// The lens model's inverse as the model states it: the ideal distance z from the centre
// solves z (1 - k z^2) = q for the observed distance q, by three Newton steps from z = q;
// the scale divides afterwards.
bool plainIdealPoint(const double lens[4], double ox, double oy, double ideal[2]) {
    const double k = lens[2] / 1e8, dx = ox - lens[0], dy = oy - lens[1];
    const double q = std::sqrt(dx * dx + dy * dy);
    double z = q;
    for (int step = 0; step < 3 && q > 0; step++) z -= (z * (1 - k * z * z) - q) / (1 - 3 * k * z * z);
    const double ratio = q > 0 ? z / q : 0.0;
    ideal[0] = dx * ratio / lens[3] + lens[0];
    ideal[1] = dy * ratio / lens[3] + lens[1];
    return std::isfinite(ideal[0]) && std::isfinite(ideal[1]);
}

}  // namespace

int plainEdgeLines(const int32_t* contourX, const int32_t* contourY, const int32_t vertexIndex[5],
                   const double distortion[4], double edgeLines[4][3], double corners[4][2]) {
    for (int i = 0; i < 4; i++) {
        const int32_t n = vertexIndex[i + 1] - vertexIndex[i] + 1;
        const double trim = n * 0.05 + 0.5;
        const int32_t st = static_cast<int32_t>(vertexIndex[i] + trim);
        const int32_t ed = static_cast<int32_t>(vertexIndex[i + 1] - trim);
        const int count = ed - st + 1;
        if (count < 2) return -1;
        std::vector<double> points(2 * count);
        double mx = 0, my = 0;
        for (int k = 0; k < count; k++) {
            if (!plainIdealPoint(distortion, contourX[st + k], contourY[st + k], &points[2 * k])) return -1;
            mx += points[2 * k] / count;
            my += points[2 * k + 1] / count;
        }
        double sxx = 0, sxy = 0, syy = 0;
        for (int k = 0; k < count; k++) {
            const double x = points[2 * k] - mx, y = points[2 * k + 1] - my;
            sxx += x * x;
            sxy += x * y;
            syy += y * y;
        }
        if (!(sxx + syy > 0) || !std::isfinite(sxx + syy)) return -1;
        // The direction of largest spread of a 2 x 2 covariance, in closed form.
        const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
        edgeLines[i][0] = std::sin(angle);
        edgeLines[i][1] = -std::cos(angle);
        edgeLines[i][2] = -(edgeLines[i][0] * mx + edgeLines[i][1] * my);
    }
    for (int i = 0; i < 4; i++) {
        const double* a = edgeLines[(i + 3) % 4];
        const double* b = edgeLines[i];
        const double d = a[0] * b[1] - b[0] * a[1];
        if (d == 0) return -1;
        corners[i][0] = (a[1] * b[2] - b[1] * a[2]) / d;
        corners[i][1] = (b[0] * a[2] - a[0] * b[2]) / d;
    }
    return 0;
}
