#include "pose/board_pose.h"

#include <cstring>

#include "pose/planar_pose.h"
#include "pose/pose_estimation.h"
#include "pose/pose_optimisation.h"

namespace zelk {

void makeBoardModel(const BoardFile& board, const int32_t* patternIds, BoardModel* model) {
    model->count = int(board.markers.size());
    for (int i = 0; i < model->count; i++) {
        model->patternId[i] = patternIds[i];
        boardMarkerCorners(board.markers[size_t(i)], model->corners[i]);
    }
}

// Mean squared distance in pixels between the four image points and the model's through pose.
static double markerError(const double model[4][2], const double image[4][2], const double P[3][4],
                          const double pose[3][4]) {
    double sum = 0;
    for (int j = 0; j < 4; j++) {
        double camera[3], projected[3];
        for (int r = 0; r < 3; r++) camera[r] = pose[r][0] * model[j][0] + pose[r][1] * model[j][1] + pose[r][3];
        for (int r = 0; r < 3; r++)
            projected[r] = P[r][0] * camera[0] + P[r][1] * camera[1] + P[r][2] * camera[2] + P[r][3];
        if (!(projected[2] > 0)) return 1e300;  // behind the camera: as far off as can be
        const double dx = projected[0] / projected[2] - image[j][0], dy = projected[1] / projected[2] - image[j][1];
        sum += dx * dx + dy * dy;
    }
    return sum / 4;
}

BoardPoseResult estimateBoardPose(const BoardModel* model, const MarkerRecord* const* seen, const CameraParams* camera,
                                  const double (*previous)[4], double pose[3][4]) {
    BoardPoseResult result = {-1.0, 0};
    if (!model || !seen || !camera || !pose || model->count < 0 || model->count > BOARD_MAX_MARKERS) return result;
    double modelPoints[BOARD_MAX_MARKERS * 4][2], imagePoints[BOARD_MAX_MARKERS * 4][2];
    int used = 0;
    for (int i = 0; i < model->count; i++) {
        const MarkerRecord* marker = seen[i];
        if (!marker || marker->direction < 0 || model->patternId[i] < 0) continue;
        if (markerImageCorners(marker, camera->distortion, &imagePoints[used * 4]) != 0) continue;
        std::memcpy(&modelPoints[used * 4], model->corners[i], sizeof model->corners[i]);
        used++;
    }
    static_assert(BOARD_MAX_MARKERS * 4 <= PLANAR_MAX_POINTS, "a whole board fits one planar pose");
    double fitted[3][4];
    while (used > 0) {
        const double error = fitPlanarPose(modelPoints, imagePoints, used * 4, camera->projection, previous, fitted);
        if (error < 0) return result;
        int worst = 0;
        double worstError = -1;
        for (int k = 0; k < used; k++) {
            const double e = markerError(&modelPoints[k * 4], &imagePoints[k * 4], camera->projection, fitted);
            if (e > worstError) worst = k, worstError = e;
        }
        if (used == 1 || worstError <= BOARD_OUTLIER_ERROR) {
            std::memcpy(pose, fitted, sizeof fitted);
            return {error, used};
        }
        // Leave the worst marker out: the last one takes its place.
        used--;
        std::memcpy(&modelPoints[worst * 4], &modelPoints[used * 4], sizeof(double[4][2]));
        std::memcpy(&imagePoints[worst * 4], &imagePoints[used * 4], sizeof(double[4][2]));
    }
    return result;
}

}  // namespace zelk
