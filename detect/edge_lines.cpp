#include "detect/edge_lines.h"

#include "camera/distortion.h"
#include "numeric/pca.h"

namespace zelk {

int fitEdgeLines(const int32_t* contourX, const int32_t* contourY, const int32_t vertexIndex[5],
                 const double distortion[4], SidePoints* work, double edgeLines[4][3], double corners[4][2]) {
    if (vertexIndex[0] < 0 || vertexIndex[4] >= CONTOUR_CAPACITY) return -1;
    for (int i = 0; i < 4; i++)
        if (vertexIndex[i] > vertexIndex[i + 1]) return -1;

    double axesData[4], ratiosData[2], meanData[2];
    DenseMatrix axes = {axesData, 2, 2};
    DenseVector ratios = {ratiosData, 2};
    DenseVector mean = {meanData, 2};
    for (int i = 0; i < 4; i++) {
        // Drop about 5 % of the side at each end, where the outline bends round the corner.
        const int32_t n = vertexIndex[i + 1] - vertexIndex[i] + 1;
        const double trim = n * 0.05 + 0.5;
        const int32_t st = static_cast<int32_t>(vertexIndex[i] + trim);
        const int32_t ed = static_cast<int32_t>(vertexIndex[i + 1] - trim);
        const int32_t count = ed - st + 1;
        // Every side reuses the work through a matrix record of our own, so the hot path
        // allocates nothing for the points.
        observedToIdealPoints(distortion, contourX + st, contourY + st, count, work->values);
        DenseMatrix points = {work->values, count, 2};
        if (computePca(&points, &axes, &ratios, &mean) < 0) return -1;  // among others, fewer than 2 points
        edgeLines[i][0] = axesData[1];
        edgeLines[i][1] = -axesData[0];
        edgeLines[i][2] = -(edgeLines[i][0] * meanData[0] + edgeLines[i][1] * meanData[1]);
    }
    return intersectEdgeLines(edgeLines, corners);
}

int intersectEdgeLines(const double edgeLines[4][3], double corners[4][2]) {
    for (int i = 0; i < 4; i++) {
        const double* side = edgeLines[i];
        const double* previous = edgeLines[(i + 3) % 4];
        const double d = previous[0] * side[1] - side[0] * previous[1];
        if (d == 0.0) return -1;
        corners[i][0] = (previous[1] * side[2] - side[1] * previous[2]) / d;
        corners[i][1] = (side[0] * previous[2] - previous[0] * side[2]) / d;
    }
    return 0;
}

int32_t buildMarkerList(const FrameImage* frame, const CameraParams* camera, const PatternLibrary* patterns,
                        const CandidateList* candidates, SidePoints* work, MarkerList* markers,
                        int32_t identifiedArea) {
    const int32_t candidateCount = candidates->count < MARKER_LIST_CAPACITY ? candidates->count : MARKER_LIST_CAPACITY;
    int32_t built = 0;
    for (int32_t k = 0; k < candidateCount; k++) {
        const SquareCandidate* candidate = &candidates->entries[k];
        MarkerRecord* marker = &markers->records[built];
        marker->pixelArea = candidate->pixelArea;
        marker->centre[0] = candidate->centre[0];
        marker->centre[1] = candidate->centre[1];
        marker->carriedOver = 0;
        if (fitEdgeLines(candidate->contourX, candidate->contourY, candidate->vertexIndex, camera->distortion, work,
                         marker->edgeLines, marker->corners) < 0)
            continue;  // the slot is reused by the next candidate
        if (candidate->pixelArea >= identifiedArea) {
            identifyCandidate(patterns, frame, candidate->contourX, candidate->contourY, candidate->vertexIndex,
                              &marker->patternId, &marker->direction, &marker->confidence);
        } else {
            marker->patternId = -1;
            marker->direction = -1;
            marker->confidence = 0.0;
        }
        built++;
    }
    markers->count = built;
    return built;
}

}  // namespace zelk
