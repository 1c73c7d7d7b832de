// Least-squares poses: Levenberg-Marquardt on the reprojection error in ideal coordinates.
//
// Model points lie on the plane z = 0 of the marker (or of a board of markers); image points
// are in ideal (undistorted) pixels. A pose is camera-from-model, 3 x 4. Errors are mean
// squared pixels over the points.
#pragma once

namespace zelk {

// Improves pose in place from where it stands; returns its error, or -1.0 with pose untouched
// (n outside 1 ... PLANAR_MAX_POINTS, input not finite, a point behind the camera, a singular
// system).
double optimisePose(const double (*modelPoints)[2], const double (*imagePoints)[2], int n, const double P[3][4],
                    double pose[3][4]);
// The pose of n >= 4 model points seen at the image points: both planar starts, each refined,
// the better kept. When their errors are close, the one whose rotation is nearer previous
// (may be null) wins. Returns the error, or -1.0 with poseOut untouched.
double fitPlanarPose(const double (*modelPoints)[2], const double (*imagePoints)[2], int n, const double P[3][4],
                     const double (*previous)[4], double poseOut[3][4]);
// The angle in radians of the rotation between the rotation blocks of two poses.
double rotationAngleBetween(const double a[3][4], const double b[3][4]);

}  // namespace zelk
