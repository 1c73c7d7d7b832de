// Both starting poses of a plane seen in perspective, in closed form.
//
// A plane's image fixes its pose only up to a twofold ambiguity: the two poses tilt the plane
// either way about the line of sight, and they are hard to tell apart for small or distant
// markers. From the homography between the plane and the normalised image, its first-order
// behaviour at the points' centre gives both rotations exactly; each gets its least-squares
// translation. Poses are camera-from-plane, 3 x 4: camera point = R (x, y, 0) + t.
#pragma once

namespace zelk {

constexpr int PLANAR_MAX_POINTS = 500;

// The two candidate poses of n (4 ... PLANAR_MAX_POINTS) model points (x, y) on the plane z = 0
// seen at image points in ideal coordinates through projection P (3 x 4, invertible left
// block). 0 with both written, or -1 (nothing written): too few or too many points, points
// not finite, collinear or coincident model points, or a singular system.
int planarPoseCandidates(const double (*modelPoints)[2], const double (*imagePoints)[2], int n, const double P[3][4],
                         double posesOut[2][3][4]);

}  // namespace zelk
