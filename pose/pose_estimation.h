// Pose estimation driver: a marker's camera-from-marker transform.
#pragma once
#include "camera/camera_params.h"
#include "detect/marker_record.h"

namespace zelk {

constexpr int POSE_MAX_POINTS = 500;

// Fills pose (3 x 4, rotation | translation in the unit of width) for a square model of
// the given width centred at centre, seen through camera. Returns the fit error (mean
// squared pixels), or -1.0 (pose untouched).
double estimateMarkerPose(const MarkerRecord* marker, const CameraParams* camera, const double centre[2], double width,
                          double pose[3][4]);
// The same in precise mode: the least-squares pose of the corners (both planar solutions
// refined; when they fit about as well, the one nearer previous, which may be null).
double estimatePrecisePose(const MarkerRecord* marker, const CameraParams* camera, const double centre[2], double width,
                           const double (*previous)[4], double pose[3][4]);
// The marker's corners in pattern order (the printed picture's top-left, top-right,
// bottom-right, bottom-left); -1 when one lies where the lens folds back: such a corner was
// not seen through this lens, nothing to fit.
int markerImageCorners(const MarkerRecord* marker, const double distortion[4], double image[4][2]);
// Refines on the model points (n x (x, y), marker plane) moved to their bounding box's centre,
// then moves the translation back. Arguments and result as refinePose.
double refineCentredPose(double rotation[3][3], const double (*imagePoints)[2], const double (*modelPoints)[2], int n,
                         double poseOut[3][4], const double P[3][4]);

}  // namespace zelk
