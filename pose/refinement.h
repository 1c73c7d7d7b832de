// Pose refinement: least-squares translation and a coarse-to-fine search over three angles.
//
// Angles (a, b, c) stand for R = Rz(a) . Ry(b) . Rz(c - a). Model points are n x (x, y, z)
// in marker coordinates, image and fit points n x (x, y); 1 <= n <= POSE_MAX_POINTS.
// solveTranslation treats P as having P[1][0] = 0, P[0][3] = P[1][3] = 0 and a bottom row
// (0, 0, 1, 0); the reprojection error uses all of P.
//
// The least-squares system lives in fixed module buffers, so refinement never allocates.
// A singular normal matrix (for example all image points equal) is a failure: -1 and -1.0.
#pragma once

namespace zelk {

// Writes R(a, b, c).
void anglesToMatrix(double a, double b, double c, double rotationOut[3][3]);
// The angles of a rotation; b in [0, pi].
void matrixToAngles(const double rotation[3][3], double* a, double* b, double* c);
// Writes P . [R(a, b, c) | translation].
void composeProjection(double a, double b, double c, const double translation[3], const double P[3][4],
                       double projectionOut[3][4]);
// Least-squares translation for a fixed rotation. 0, or -1 (nothing written).
int solveTranslation(const double rotation[3][3], const double (*modelPoints)[3], const double (*fitPoints)[2], int n,
                     const double P[3][4], double translationOut[3]);
// Improves rotation in place for a fixed translation; returns the mean squared reprojection error.
double searchRotationAngles(double rotation[3][3], const double translation[3], const double P[3][4],
                            const double (*modelPoints)[3], const double (*fitPoints)[2], int n);
// Two translation + rotation passes from rotation (in/out) to poseOut, fitted to image points in
// ideal (undistorted) coordinates; returns the fit error (mean squared pixels), or -1.0 with
// rotation and poseOut unchanged.
double refinePose(double rotation[3][3], const double (*imagePoints)[2], const double (*modelPoints)[3], int n,
                  double poseOut[3][4], const double P[3][4]);

}  // namespace zelk
