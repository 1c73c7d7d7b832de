// A board's pose: one least-squares pose from the corners of every marker of the board
// that the camera found, so that it holds while some markers are hidden and is steadier
// than any one marker's.
//
// A marker whose corners stray from the joint fit by more than BOARD_OUTLIER_ERROR (mean
// squared pixels) while others agree is taken for a misread and left out: the worst first,
// then the fit again.
#pragma once
#include <cstdint>

#include "camera/camera_params.h"
#include "detect/marker_record.h"
#include "pose/board_file.h"

namespace zelk {

constexpr double BOARD_OUTLIER_ERROR = 25.0;

// A board in the plug-in's terms: each marker's pattern id (-1 when the board has lost it)
// and its corners on the board in pattern order.
struct BoardModel {
    int count;
    int32_t patternId[BOARD_MAX_MARKERS];
    double corners[BOARD_MAX_MARKERS][4][2];
};

struct BoardPoseResult {
    double fitError;  // mean squared pixels over the corners used; -1.0 with no pose
    int markersUsed;
};

// The model of a parsed board whose pattern i has the id patternIds[i].
void makeBoardModel(const BoardFile& board, const int32_t* patternIds, BoardModel* model);
// The pose of the board (camera-from-board, in the board's unit) from seen[i], the record
// found for its marker i or null, through camera; when two poses fit about as well, the one
// nearer previous (may be null). pose is untouched when no marker with a direction is seen.
BoardPoseResult estimateBoardPose(const BoardModel* model, const MarkerRecord* const* seen, const CameraParams* camera,
                                  const double (*previous)[4], double pose[3][4]);

}  // namespace zelk
