// Markers projected exactly from known poses, and the measures to compare poses by.
#pragma once
#include "camera/camera_params.h"
#include "detect/marker_record.h"

// A 640 x 480 pinhole camera: focal length 700, centre (320, 240), no skew, a zero fourth
// column and distortion factors for which ideal and observed points are the same.
zelk::CameraParams pinholeCamera();
// R = axis-angle rotation (axis need not be unit).
void axisRotation(double x, double y, double z, double degrees, double R[3][3]);
// out = a . b for 3 x 3 matrices.
void multiply3(const double a[3][3], const double b[3][3], double out[3][3]);
// A marker at (x, y, distance) in front of the camera: first turned by inPlane degrees
// about its own normal, then tilted by tilt degrees about the camera-plane axis at
// tiltAxis degrees from the camera's x axis.
void viewPose(double x, double y, double distance, double tilt, double tiltAxis, double inPlane, double pose[3][4]);
// The image point of marker point (x, y, 0) under the pose.
void projectMarkerPoint(const double P[3][4], const double pose[3][4], double x, double y, double image[2]);
// The record a perfect detector would give for a square of width w centred on the marker
// origin, stored with the given direction (corners and edge lines in ideal coordinates).
zelk::MarkerRecord markerFromPose(const double P[3][4], const double pose[3][4], double width, int direction);
// Refits edge line `side` to have exactly the direction of the opposite side, through its own corner.
void makeOppositeSideParallel(zelk::MarkerRecord* marker, int side);
// The angle in degrees of the rotation between two rotations (or the rotation blocks of poses).
double rotationDifferenceDegrees(const double a[3][3], const double b[3][3]);
double rotationDifferenceDegrees(const double a[3][4], const double b[3][4]);
