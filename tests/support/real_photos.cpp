#include "tests/support/real_photos.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "camera/distortion.h"
#include "tests/support/paths.h"

namespace {

void centre(const PhotoMarker& marker, double out[2]) {
    out[0] = out[1] = 0;
    for (const auto& corner : marker.corners) {
        out[0] += corner[0] / 4;
        out[1] += corner[1] / 4;
    }
}

double meanSide(const PhotoMarker& marker) {
    double sum = 0;
    for (int k = 0; k < 4; ++k)
        sum += std::hypot(marker.corners[(k + 1) % 4][0] - marker.corners[k][0],
                          marker.corners[(k + 1) % 4][1] - marker.corners[k][1]);
    return sum / 4;
}

// The quarter turn s that brings the reported corners nearest the reference's: reported
// corner k against reference corner (k + s) mod 4.
int nearestTurn(const PhotoMarker& reported, const PhotoMarker& reference) {
    int best = 0;
    double bestDistance = INFINITY;
    for (int s = 0; s < 4; ++s) {
        double distance = 0;
        for (int k = 0; k < 4; ++k)
            distance += std::hypot(reported.corners[k][0] - reference.corners[(k + s) % 4][0],
                                   reported.corners[k][1] - reference.corners[(k + s) % 4][1]);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = s;
        }
    }
    return best;
}

}  // namespace

PhotoMarker photoMarker(int id, int direction, const double corners[4][2], const double distortion[4]) {
    PhotoMarker marker{id, {}};
    for (int k = 0; k < 4; ++k) {
        const double* ideal = corners[(4 - direction + k) % 4];
        zelk::idealToObserved(distortion, ideal[0], ideal[1], &marker.corners[k][0], &marker.corners[k][1]);
    }
    return marker;
}

std::vector<ReferencePhoto> readReference(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<ReferencePhoto> photos;
    try {
        const nlohmann::json json = nlohmann::json::parse(in);
        for (const auto& [file, photo] : json.at("photos").items()) {
            ReferencePhoto entry{file, photo.at("width").get<int>(), photo.at("height").get<int>(), {}};
            for (const auto& marker : photo.at("markers")) {
                PhotoMarker m{marker.at("id").get<int>(), {}};
                for (int k = 0; k < 4; ++k)
                    for (int i = 0; i < 2; ++i) m.corners[k][i] = marker.at("corners").at(k).at(i).get<double>();
                entry.markers.push_back(m);
            }
            photos.push_back(entry);
        }
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
    std::sort(photos.begin(), photos.end(), [](const auto& a, const auto& b) { return a.file < b.file; });
    return photos;
}

std::string sharedRealPhotos() {
    const std::string folder = sourcePath("../shared/real-photos");
    return std::filesystem::is_directory(folder) ? folder : "";
}

PhotoScore& PhotoScore::operator+=(const PhotoScore& other) {
    reference += other.reference;
    identified += other.identified;
    wrongDirection += other.wrongDirection;
    wrongId += other.wrongId;
    unmatched += other.unmatched;
    return *this;
}

PhotoScore scorePhoto(const ReferencePhoto& photo, const std::vector<PhotoMarker>& reported) {
    PhotoScore score;
    score.reference = static_cast<int>(photo.markers.size());
    std::vector<bool> found(photo.markers.size(), false);
    for (const PhotoMarker& report : reported) {
        double at[2];
        centre(report, at);
        const PhotoMarker* match = nullptr;
        for (const PhotoMarker& reference : photo.markers) {
            double there[2];
            centre(reference, there);
            if (std::hypot(at[0] - there[0], at[1] - there[1]) < meanSide(reference) / 4) match = &reference;
        }
        if (!match)
            ++score.unmatched;
        else if (match->id != report.id)
            ++score.wrongId;
        else if (nearestTurn(report, *match) != 0)
            ++score.wrongDirection;
        else
            found[match - photo.markers.data()] = true;
    }
    score.identified = static_cast<int>(std::count(found.begin(), found.end(), true));
    return score;
}
