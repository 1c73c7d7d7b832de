// zelk_photos: identification on real photographs, against reference corners.
//
//   zelk_photos [folder] [--misses]
//
// The folder (default: ../shared/real-photos beside the source tree, or $ZELK_REAL_PHOTOS)
// holds a set per subfolder: photos/, reference.json and the set's camera file, and the
// patterns in patterns/tag36h11/N.patt. Without it the program says so and exits 0.
//
// Each photo is detected on its own, with a fresh marker history, once with the fixed
// threshold 100 and once with the automatic threshold. A reference marker is identified
// when a marker of its id has its centre within a fifth of the reference's side (at least
// 2 px). A marker there with another id is a wrong id. An identified marker away from every
// reference marker is unreferenced: the reference misses a few tags, so one whose id the
// set's visible_ids.txt lists for the photo is counted apart, any other is a false report.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/camera_params.h"
#include "camera/scaling.h"
#include "detect/detector.h"

namespace fs = std::filesystem;

namespace {

struct SetFiles {
    const char* name;
    const char* camera;
};
const SetFiles SETS[] = {{"mapping", "camera_816x612.dat"}, {"clipboard", "camera_320x240.dat"}};
const int PATTERNS = 30;
const int FIXED_THRESHOLD = 100;

struct Reference {
    int id;
    double centre[2];
    double side;
};

struct Tally {
    int references = 0, identified = 0, wrong = 0, falseReports = 0, unreferenced = 0;
};

std::vector<Reference> referencesOf(const nlohmann::json& photo) {
    std::vector<Reference> out;
    for (const auto& m : photo["markers"]) {
        Reference r{m["id"].get<int>(), {0, 0}, 0};
        const auto& c = m["corners"];
        for (int k = 0; k < 4; ++k) {
            const double x = c[k][0].get<double>(), y = c[k][1].get<double>();
            r.centre[0] += x / 4;
            r.centre[1] += y / 4;
            r.side += std::hypot(x - c[(k + 1) % 4][0].get<double>(), y - c[(k + 1) % 4][1].get<double>()) / 4;
        }
        out.push_back(r);
    }
    return out;
}

// Photo name (lower case) -> the ids its author lists as visible; empty when the set has no list.
std::map<std::string, std::set<int>> visibleIds(const fs::path& file) {
    std::map<std::string, std::set<int>> out;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        for (char& ch : name) ch = char(std::tolower(static_cast<unsigned char>(ch)));
        for (int id; words >> id;) out[name].insert(id);
    }
    return out;
}

std::string lower(std::string text) {
    for (char& ch : text) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

// Detects every photo of a set in one mode and scores it.
Tally scoreSet(const fs::path& folder, const SetFiles& set, bool automatic, bool listMisses) {
    Tally tally;
    std::ifstream in(folder / set.name / "reference.json");
    const nlohmann::json reference = nlohmann::json::parse(in, nullptr, false);
    zelk::CameraParams record;
    if (reference.is_discarded() ||
        zelk::loadCameraParams((folder / set.name / set.camera).string().c_str(), 1, &record) < 0 ||
        record.imageWidth < 1) {
        std::fprintf(stderr, "%s: cannot read its reference or camera\n", set.name);
        std::exit(1);
    }
    const auto visible = visibleIds(folder / set.name / "visible_ids.txt");
    auto detector = std::make_unique<zelk::Detector>();
    detector->settings.autoThreshold = automatic;
    for (int id = 0; id < PATTERNS; ++id) {
        const fs::path pattern = folder / "patterns" / "tag36h11" / (std::to_string(id) + ".patt");
        if (zelk::loadPattern(&detector->patterns, pattern.string().c_str()) != id) {
            std::fprintf(stderr, "cannot load %s\n", pattern.string().c_str());
            std::exit(1);
        }
    }
    for (const auto& [name, photo] : reference["photos"].items()) {
        const cv::Mat picture = cv::imread((folder / set.name / "photos" / name).string(), cv::IMREAD_COLOR);
        if (picture.empty()) {
            std::fprintf(stderr, "cannot read %s\n", name.c_str());
            std::exit(1);
        }
        cv::Mat bgra;
        cv::cvtColor(picture, bgra, cv::COLOR_BGR2BGRA);
        zelk::scaleCameraParams(&record, bgra.cols, bgra.rows, &detector->camera);
        zelk::resetDetector(detector.get());
        const zelk::FrameImage frame{bgra.data, bgra.cols, bgra.rows, int32_t(bgra.step)};
        zelk::detectMarkers(detector.get(), &frame, FIXED_THRESHOLD);

        const std::vector<Reference> refs = referencesOf(photo);
        const auto listed = visible.find(lower(name));
        tally.references += int(refs.size());
        std::vector<bool> found(refs.size(), false);
        for (int32_t i = 0; i < detector->markers.count; ++i) {
            const zelk::MarkerRecord& m = detector->markers.records[i];
            if (m.patternId < 0) continue;
            bool near = false;
            for (size_t r = 0; r < refs.size(); ++r) {
                const double d = std::hypot(m.centre[0] - refs[r].centre[0], m.centre[1] - refs[r].centre[1]);
                if (d > std::max(2.0, refs[r].side / 5)) continue;
                near = true;
                if (m.patternId == refs[r].id) {
                    found[r] = true;
                } else {
                    tally.wrong++;
                    std::printf("  %s: id %d identified as %d\n", name.c_str(), refs[r].id, m.patternId);
                }
            }
            if (near) continue;
            const bool isListed = listed != visible.end() && listed->second.count(m.patternId);
            (isListed ? tally.unreferenced : tally.falseReports)++;
            std::printf("  %s: id %d at (%.0f, %.0f), confidence %.2f, not in the reference%s\n", name.c_str(),
                        m.patternId, m.centre[0], m.centre[1], m.confidence,
                        isListed ? " (listed as visible)" : listed != visible.end() ? " nor listed as visible" : "");
        }
        for (size_t r = 0; r < refs.size(); ++r) {
            if (found[r]) {
                tally.identified++;
            } else if (listMisses) {
                std::printf("  %s: id %d missed, %.0f px wide at (%.0f, %.0f)\n", name.c_str(), refs[r].id,
                            refs[r].side, refs[r].centre[0], refs[r].centre[1]);
            }
        }
    }
    return tally;
}

}  // namespace

int main(int argc, char** argv) {
    bool listMisses = false;
    fs::path folder = std::getenv("ZELK_REAL_PHOTOS") ? std::getenv("ZELK_REAL_PHOTOS")
                                                       : ZELK_SOURCE_DIR "/../shared/real-photos";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--misses") == 0)
            listMisses = true;
        else
            folder = argv[i];
    }
    if (!fs::is_directory(folder / "patterns" / "tag36h11")) {
        std::printf("no real photos at %s: skipped\n", folder.string().c_str());
        return 0;
    }
    std::printf("Real photos at %s\n", folder.string().c_str());
    std::vector<std::string> rows;
    for (const bool automatic : {false, true})
        for (const SetFiles& set : SETS) {
            std::printf("%s, threshold %s:\n", set.name, automatic ? "auto" : "100");
            const Tally t = scoreSet(folder, set, automatic, listMisses);
            char row[200];
            std::snprintf(row, sizeof row, "%-10s %-9s %5d %5d %7.1f %% %6d %6d %13d", set.name,
                          automatic ? "auto" : "100", t.references, t.identified,
                          100.0 * t.identified / std::max(1, t.references), t.wrong, t.falseReports, t.unreferenced);
            rows.push_back(row);
        }
    std::printf("\nset        threshold  refs   ids  identified  wrong  false  unreferenced\n");
    for (const std::string& row : rows) std::printf("%s\n", row.c_str());
    return 0;
}
