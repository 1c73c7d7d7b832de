#include "pose/pose_estimation.h"

#include "camera/distortion.h"
#include "pose/initial_rotation.h"
#include "pose/pose_optimisation.h"
#include "pose/refinement.h"

namespace zelk {

constexpr int REFINE_CYCLES = 5;
constexpr double GOOD_FIT_ERROR = 1.0;

double refineCentredPose(double rotation[3][3], const double (*imagePoints)[2], const double (*modelPoints)[2], int n,
                         double poseOut[3][4], const double P[3][4]) {
    if (n < 1 || n > POSE_MAX_POINTS) return -1.0;
    double maxX = -1e10, maxY = -1e10, minX = 1e10, minY = 1e10;
    for (int i = 0; i < n; i++) {
        const double x = modelPoints[i][0], y = modelPoints[i][1];
        if (maxX < x) maxX = x;
        if (minX > x) minX = x;
        if (maxY < y) maxY = y;
        if (minY > y) minY = y;
    }
    const double offX = -(maxX + minX) / 2;
    const double offY = -(maxY + minY) / 2;
    double centredModel[POSE_MAX_POINTS][3];
    for (int i = 0; i < n; i++) {
        centredModel[i][0] = modelPoints[i][0] + offX;
        centredModel[i][1] = modelPoints[i][1] + offY;
        centredModel[i][2] = 0;
    }
    const double error = refinePose(rotation, imagePoints, centredModel, n, poseOut, P);
    if (error < 0) return error;
    for (int r = 0; r < 3; r++) poseOut[r][3] += poseOut[r][0] * offX + poseOut[r][1] * offY;
    return error;
}

int markerImageCorners(const MarkerRecord* marker, const double distortion[4], double image[4][2]) {
    for (int j = 0; j < 4; j++) {
        const double* corner = marker->corners[patternCornerIndex(marker->direction, j)];
        if (idealPointInLensRange(distortion, corner[0], corner[1]) != 0) return -1;
        image[j][0] = corner[0];
        image[j][1] = corner[1];
    }
    return 0;
}

// The square's model corners and the marker's corners in pattern order, or -1 (see markerImageCorners).
static int markerCorrespondences(const MarkerRecord* marker, const double centre[2], double width,
                                 const double distortion[4], double model[4][2], double image[4][2]) {
    const double half = width / 2.0;
    const double square[4][2] = {{-half, half}, {half, half}, {half, -half}, {-half, -half}};
    for (int j = 0; j < 4; j++) {
        model[j][0] = centre[0] + square[j][0];
        model[j][1] = centre[1] + square[j][1];
    }
    return markerImageCorners(marker, distortion, image);
}

// Through a lens without distortion (no radial term, scale 1) ideal and observed points are
// one. The fit has always taken such corners through the lens model, whose (x - c) + c may
// move the last bit, and still does, so that poses from these cameras keep their bits.
static void keepWithoutDistortion(const double distortion[4], double image[4][2]) {
    if (distortion[2] != 0 || distortion[3] != 1) return;
    for (int j = 0; j < 4; j++) idealToObserved(distortion, image[j][0], image[j][1], &image[j][0], &image[j][1]);
}

double estimateMarkerPose(const MarkerRecord* marker, const CameraParams* camera, const double centre[2], double width,
                          double pose[3][4]) {
    if (!marker || !camera || !centre || !pose) return -1.0;
    double rotation[3][3];
    if (computeInitialRotation(marker, camera->projection, rotation) != 0) return -1.0;
    double model[4][2], image[4][2];
    if (markerCorrespondences(marker, centre, width, camera->distortion, model, image) != 0) return -1.0;
    keepWithoutDistortion(camera->distortion, image);
    // Refined into a pose of our own, so that a failing cycle leaves the caller's untouched.
    double refined[3][4];
    double error = -1.0;
    for (int cycle = 0; cycle < REFINE_CYCLES; cycle++) {
        error = refineCentredPose(rotation, image, model, 4, refined, camera->projection);
        if (error < 0) return -1.0;
        if (error < GOOD_FIT_ERROR) break;
    }
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 4; c++) pose[r][c] = refined[r][c];
    return error;
}

double estimatePrecisePose(const MarkerRecord* marker, const CameraParams* camera, const double centre[2], double width,
                           const double (*previous)[4], double pose[3][4]) {
    if (!marker || !camera || !centre || !pose) return -1.0;
    double model[4][2], image[4][2];
    if (markerCorrespondences(marker, centre, width, camera->distortion, model, image) != 0) return -1.0;
    return fitPlanarPose(model, image, 4, camera->projection, previous, pose);
}

}  // namespace zelk
