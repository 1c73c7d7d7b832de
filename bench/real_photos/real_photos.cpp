// zelk_photos: identification on real photographs, against reference corners.
//
//   zelk_photos [folder] [--misses]
//
// The folder (default: ../shared/real-photos beside the repository) holds a set per
// subfolder (photos/, reference.json, the set's camera file) and the tags' patterns in
// patterns/tag36h11/N.patt; without it the program says so and exits 0. Each photo is
// detected on its own, with a fresh marker history, with the fixed threshold 100 and with
// the automatic threshold, and scored as the real-photo test scores (tests/support/
// real_photos.h): identified with the right id and top-left corner, wrong direction, wrong
// id, unmatched. An unmatched report is false unless the reference missed a tag that is
// there: every one is listed, with whether the set's visible_ids.txt lists its id.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/scaling.h"
#include "detect/detector.h"
#include "tests/support/real_photos.h"

namespace fs = std::filesystem;

namespace {

struct SetFiles {
    const char* name;
    const char* camera;
};
const SetFiles SETS[] = {{"mapping", "camera_816x612.dat"}, {"clipboard", "camera_320x240.dat"}};
const int TAGS = 30;
const int FIXED_THRESHOLD = 100;

// The ids the set's visible_ids.txt lists for a photo (names compared without case).
std::set<int> listedIds(const fs::path& set, const std::string& photo) {
    std::ifstream in(set / "visible_ids.txt");
    auto lower = [](std::string text) {
        for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    std::set<int> ids;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        if (lower(name) == lower(photo))
            for (int id; words >> id;) ids.insert(id);
    }
    return ids;
}

// The detector's identified markers, corners where the picture shows them, top-left first.
std::vector<PhotoMarker> reports(const zelk::Detector& detector) {
    std::vector<PhotoMarker> out;
    for (int32_t i = 0; i < detector.markers.count; ++i) {
        const zelk::MarkerRecord& m = detector.markers.records[i];
        if (m.patternId < 0) continue;
        out.push_back(photoMarker(m.patternId, m.direction, m.corners, detector.camera.distortion));
    }
    return out;
}

PhotoScore scoreSet(const fs::path& folder, const SetFiles& set, const std::vector<ReferencePhoto>& photos,
                    bool automatic, bool listMisses) {
    const fs::path setFolder = folder / set.name;
    zelk::CameraParams record;
    if (zelk::loadCameraParams((setFolder / set.camera).string().c_str(), 1, &record) < 0 || record.imageWidth < 1)
        throw std::runtime_error("cannot read " + (setFolder / set.camera).string());
    auto detector = std::make_unique<zelk::Detector>();
    detector->settings.autoThreshold = automatic;
    for (int id = 0; id < TAGS; ++id) {
        const fs::path pattern = folder / "patterns" / "tag36h11" / (std::to_string(id) + ".patt");
        if (zelk::loadPattern(&detector->patterns, pattern.string().c_str()) != id)
            throw std::runtime_error("cannot load " + pattern.string());
    }
    PhotoScore total;
    for (const ReferencePhoto& photo : photos) {
        const cv::Mat picture = cv::imread((setFolder / "photos" / photo.file).string(), cv::IMREAD_COLOR);
        if (picture.empty()) throw std::runtime_error("cannot read " + photo.file);
        cv::Mat bgra;
        cv::cvtColor(picture, bgra, cv::COLOR_BGR2BGRA);
        zelk::scaleCameraParams(&record, bgra.cols, bgra.rows, &detector->camera);
        zelk::resetDetector(detector.get());
        const zelk::FrameImage frame{bgra.data, bgra.cols, bgra.rows, int32_t(bgra.step)};
        zelk::detectMarkers(detector.get(), &frame, FIXED_THRESHOLD);
        const std::vector<PhotoMarker> reported = reports(*detector);
        const PhotoScore score = scorePhoto(photo, reported);
        total += score;
        std::set<int> referenced;
        for (const PhotoMarker& m : photo.markers) referenced.insert(m.id);
        const std::set<int> listed = listedIds(setFolder, photo.file);
        for (const PhotoMarker& m : reported)
            if (!referenced.count(m.id))
                std::printf("  %s: tag %d reported at (%.0f, %.0f), not in the reference%s\n", photo.file.c_str(), m.id,
                            (m.corners[0][0] + m.corners[2][0]) / 2, (m.corners[0][1] + m.corners[2][1]) / 2,
                            listed.empty()       ? ""
                            : listed.count(m.id) ? " (listed visible)"
                                                 : " nor listed visible");
        if (score.wrongId || score.wrongDirection)
            std::printf("  %s: %d wrong ids, %d wrong directions\n", photo.file.c_str(), score.wrongId,
                        score.wrongDirection);
        if (listMisses && score.identified < score.reference)
            std::printf("  %s: %d of %d identified\n", photo.file.c_str(), score.identified, score.reference);
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    bool listMisses = false;
    std::string folder = sharedRealPhotos();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--misses") == 0)
            listMisses = true;
        else
            folder = argv[i];
    }
    if (folder.empty() || !fs::is_directory(fs::path(folder) / "patterns" / "tag36h11")) {
        std::printf("no real photos (../shared/real-photos beside the repository, or give a folder): skipped\n");
        return 0;
    }
    std::printf("real photos at %s\n", folder.c_str());
    std::vector<std::string> rows;
    try {
        std::vector<std::vector<ReferencePhoto>> references;  // each set's, read once for both thresholds
        for (const SetFiles& set : SETS)
            references.push_back(readReference((fs::path(folder) / set.name / "reference.json").string()));
        for (const bool automatic : {false, true})
            for (size_t i = 0; i < std::size(SETS); ++i) {
                const SetFiles& set = SETS[i];
                std::printf("%s, threshold %s:\n", set.name, automatic ? "auto" : "100");
                const PhotoScore s = scoreSet(folder, set, references[i], automatic, listMisses);
                char row[200];
                std::snprintf(row, sizeof row, "%-10s %-9s %10d %10d %9.1f %% %8d %9d %9d", set.name,
                              automatic ? "auto" : "100", s.reference, s.identified,
                              100.0 * s.identified / std::max(1, s.reference), s.wrongId, s.wrongDirection,
                              s.unmatched);
                rows.push_back(row);
            }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelk_photos: %s\n", e.what());
        return 1;
    }
    std::printf("\nset        threshold   reference identified      rate   wrong id  wrong dir unmatched\n");
    for (const std::string& row : rows) std::printf("%s\n", row.c_str());
    return 0;
}
