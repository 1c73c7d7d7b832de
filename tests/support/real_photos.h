// Real photographs of printed markers with reference corners (a photo set's
// reference.json), and the scoring of what a detector reports on them.
//
// Corners are pixel coordinates with pixel centres at integers, in the printed marker's
// order: top-left, top-right, bottom-right, bottom-left.
#pragma once
#include <string>
#include <vector>

struct PhotoMarker {
    int id;  // the marker's id in its family
    double corners[4][2];
};

struct ReferencePhoto {
    std::string file;  // the picture's name in the set's photos/ folder
    int width, height;
    std::vector<PhotoMarker> markers;
};

// A detected marker as the reference gives it: its corners (ideal coordinates, the printed
// top-left one being corner (4 - direction) mod 4) where the picture shows them, through
// the camera's distortion factors, top-left first.
PhotoMarker photoMarker(int id, int direction, const double corners[4][2], const double distortion[4]);

// A set's reference.json, photos in name order. Throws std::runtime_error for a file that
// is missing or not of that form.
std::vector<ReferencePhoto> readReference(const std::string& path);

// The shared photo sets' folder (holding mapping/, clipboard/ ...) beside the repository,
// or "" when it is not there.
std::string sharedRealPhotos();

// What a detector got right and wrong on photos, summed over them.
struct PhotoScore {
    int reference = 0;       // reference markers
    int identified = 0;      // reference markers reported at their place with their id and top-left corner
    int wrongDirection = 0;  // its id, but another corner reported as top-left
    int wrongId = 0;         // another id at a reference marker's place
    int unmatched = 0;       // reported where no reference marker is: false, or one the reference missed
    PhotoScore& operator+=(const PhotoScore& other);
};

// Scores a detector's reports on one photo (unidentified squares are not reports). A
// report matches the reference marker whose centre is within a quarter of that marker's
// mean side of the report's centre.
PhotoScore scorePhoto(const ReferencePhoto& photo, const std::vector<PhotoMarker>& reported);
