#include "tests/support/plain_fits.h"

#include <cmath>
#include <vector>

#include "camera/distortion.h"
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

int plainEdgeLines(const int32_t* contourX, const int32_t* contourY, const int32_t vertexIndex[5],
                   const double distortion[4], double edgeLines[4][3]) {
    double axesData[4], ratiosData[2], meanData[2];
    DenseMatrix axes = {axesData, 2, 2};
    DenseVector ratios = {ratiosData, 2}, mean = {meanData, 2};
    for (int i = 0; i < 4; i++) {
        const int32_t n = vertexIndex[i + 1] - vertexIndex[i] + 1;
        const double trim = n * 0.05 + 0.5;
        const int32_t st = static_cast<int32_t>(vertexIndex[i] + trim);
        const int32_t ed = static_cast<int32_t>(vertexIndex[i + 1] - trim);
        if (ed - st + 1 < 2) return -1;
        std::vector<double> ideal(2 * (ed - st + 1));
        for (int32_t k = st; k <= ed; k++)
            observedToIdeal(distortion, contourX[k], contourY[k], &ideal[2 * (k - st)], &ideal[2 * (k - st) + 1]);
        DenseMatrix points = {ideal.data(), ed - st + 1, 2};
        if (plainPca(&points, &axes, &ratios, &mean) < 0) return -1;
        edgeLines[i][0] = axesData[1];
        edgeLines[i][1] = -axesData[0];
        edgeLines[i][2] = -(edgeLines[i][0] * meanData[0] + edgeLines[i][1] * meanData[1]);
    }
    return 0;
}
