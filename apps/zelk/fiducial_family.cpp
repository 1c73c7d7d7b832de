// OpenCV's aruco module draws AprilTag families turned 180 degrees from the tags as their
// makers print them (its bits are read from the other corner); they are turned back here,
// so that the top-left corner of a pattern or marker is the printed tag's top-left.
#include "apps/zelk/fiducial_family.h"

#include <algorithm>
#include <cctype>

#include <opencv2/aruco.hpp>

#include "apps/zelk/commands.h"

namespace zelk::tool {

namespace {

struct Family {
    const char* name;  // OpenCV's dictionary name in lower case, "dict_" left out, "apriltag_" as "tag"
    int dictionary;
    bool aprilTag;
};

const Family FAMILIES[] = {
    {"tag16h5", cv::aruco::DICT_APRILTAG_16h5, true},
    {"tag25h9", cv::aruco::DICT_APRILTAG_25h9, true},
    {"tag36h10", cv::aruco::DICT_APRILTAG_36h10, true},
    {"tag36h11", cv::aruco::DICT_APRILTAG_36h11, true},
    {"4x4_50", cv::aruco::DICT_4X4_50, false},
    {"4x4_100", cv::aruco::DICT_4X4_100, false},
    {"4x4_250", cv::aruco::DICT_4X4_250, false},
    {"4x4_1000", cv::aruco::DICT_4X4_1000, false},
    {"5x5_50", cv::aruco::DICT_5X5_50, false},
    {"5x5_100", cv::aruco::DICT_5X5_100, false},
    {"5x5_250", cv::aruco::DICT_5X5_250, false},
    {"5x5_1000", cv::aruco::DICT_5X5_1000, false},
    {"6x6_50", cv::aruco::DICT_6X6_50, false},
    {"6x6_100", cv::aruco::DICT_6X6_100, false},
    {"6x6_250", cv::aruco::DICT_6X6_250, false},
    {"6x6_1000", cv::aruco::DICT_6X6_1000, false},
    {"7x7_50", cv::aruco::DICT_7X7_50, false},
    {"7x7_100", cv::aruco::DICT_7X7_100, false},
    {"7x7_250", cv::aruco::DICT_7X7_250, false},
    {"7x7_1000", cv::aruco::DICT_7X7_1000, false},
    {"aruco_original", cv::aruco::DICT_ARUCO_ORIGINAL, false},
};

// "DICT_APRILTAG_36h11", "tag36h11", "DICT_6X6_250" and "6x6_250" all name a family.
const Family* findFamily(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (name.rfind("dict_", 0) == 0) name.erase(0, 5);
    if (name.rfind("apriltag_", 0) == 0) name.replace(0, 9, "tag");
    for (const Family& family : FAMILIES)
        if (name == family.name) return &family;
    return nullptr;
}

// The family's dictionary; fails for an unknown name.
const Family& knownFamily(const std::string& name) {
    const Family* family = findFamily(name);
    if (!family) fail("unknown marker family " + name + "; the families are " + familyNames());
    return *family;
}

}  // namespace

std::string familyNames() {
    return "tag16h5, tag25h9, tag36h10, tag36h11 (AprilTag); 4x4_50 ... 7x7_1000 (ArUco NxN_50, _100, _250, "
           "_1000), aruco_original";
}

int familySize(const std::string& name) {
    return cv::aruco::getPredefinedDictionary(knownFamily(name).dictionary)->bytesList.rows;
}

cv::Mat familyCells(const std::string& name, int id) {
    const Family* family = &knownFamily(name);
    const cv::Ptr<cv::aruco::Dictionary> dictionary = cv::aruco::getPredefinedDictionary(family->dictionary);
    const int count = dictionary->bytesList.rows;
    if (id < 0 || id >= count)
        fail("the family " + std::string(family->name) + " has ids 0 to " + std::to_string(count - 1) + ", not " +
             std::to_string(id));
    cv::Mat cells;
    dictionary->drawMarker(id, dictionary->markerSize + 2, cells, 1);
    if (family->aprilTag) cv::rotate(cells, cells, cv::ROTATE_180);
    return cells;
}

}  // namespace zelk::tool
