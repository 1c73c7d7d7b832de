// The plug-in's files checked before it reads them, so that a mistake is named in one line
// rather than found out as "Pattern Data read error!!", garbage sizes or markers never found.
//
// A camera file is refused when it is not exactly one record, holds a value that is not a
// finite number, a size that is not positive, a focal length that is not positive or a
// distortion scale of 0. The plug-in itself refuses only a short file and a width below 1;
// the message says when it would take the file all the same. A pattern file is read with the
// plug-in's own rules (3,072 whole numbers in the int32 range, each after white space, the
// rest of the file unread). A board file is read as the plug-in reads it, and each of its
// pattern files as above.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "apps/zelk/commands.h"
#include "detect/pattern_library.h"
#include "pose/board_file.h"

namespace zelk::tool {

namespace {

constexpr int PATTERN_FILE_VALUES = 4 * PATTERN_VALUES;

std::string problem(const CameraParams& record) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            if (!std::isfinite(record.projection[r][c]))
                return cv::format("projection value (%d, %d) is not a finite number", r + 1, c + 1);
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(record.distortion[i]))
            return cv::format("distortion factor %d is not a finite number", i + 1);
    if (!(record.projection[0][0] > 0) || !(record.projection[1][1] > 0))
        return cv::format("its focal lengths %g and %g are not both positive", record.projection[0][0],
                          record.projection[1][1]);
    if (record.distortion[3] == 0) return "its distortion scale is 0";
    return "";
}

}  // namespace

CameraParams checkCameraFile(const std::string& path) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    if (error) fail("cannot read the camera file " + path);
    CameraParams record{};
    if (bytes != sizeof record)
        fail(
            path + " is not a camera file: " + std::to_string(bytes) + " bytes, not " + std::to_string(sizeof record) +
            (bytes < sizeof record ? " (the plug-in refuses it)" : " (the plug-in would read its start all the same)"));
    if (loadCameraParams(path.c_str(), 1, &record) < 0) fail("cannot read the camera file " + path);
    if (record.imageWidth < 1 || record.imageHeight < 1)
        fail(path + " is not a camera file: its image size " + std::to_string(record.imageWidth) + " x " +
             std::to_string(record.imageHeight) + " is not positive" +
             (record.imageWidth < 1 ? " (the plug-in refuses it)" : " (the plug-in would take it all the same)"));
    const std::string wrong = problem(record);
    if (!wrong.empty()) fail(path + " is not a usable camera: " + wrong + " (the plug-in would take it all the same)");
    return record;
}

void checkPatternFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read the pattern file " + path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 0;
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    for (int count = 0; count < PATTERN_FILE_VALUES; ++count) {
        while (at < text.size() && space(text[at])) ++at;
        if (at == text.size())
            fail(path + " is not a whole pattern file: it ends after " + std::to_string(count) +
                 " numbers of the 3072 (four orientations of 16 x 16 x 3)");
        const size_t start = at;
        if (text[at] == '-' || text[at] == '+') ++at;
        const size_t digits = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
        const std::string number = text.substr(start, at - start);
        if (at == digits) {
            const size_t end = std::min(text.find_first_of(" \t\n\r\v\f", start), start + 20);
            fail(path + " is not a pattern file: value " + std::to_string(count + 1) + " is \"" +
                 text.substr(start, end - start) + "\", not a whole number");
        }
        const double value = std::strtod(number.c_str(), nullptr);
        if (value < -2147483648.0 || value > 2147483647.0)
            fail(path + " is not a pattern file: value " + std::to_string(count + 1) + " (" + number +
                 ") is too large");
    }
}

BoardFile checkBoardFile(const std::string& path) {
    BoardFile board;
    const BoardFileResult read = loadBoardFile(path.c_str(), &board);
    if (read.status != BOARD_FILE_OK)
        fail(path + (read.line ? " line " + std::to_string(read.line) : "") + ": " + boardFileMessage(read.status));
    for (const BoardMarker& marker : board.markers) checkPatternFile(boardPatternPath(path.c_str(), marker.pattern));
    return board;
}

void refuseOverwriting(const std::string& output, const std::vector<std::string>& inputs) {
    for (const auto& input : inputs) {
        std::error_code missing;  // an output that does not exist yet is no input
        if (std::filesystem::equivalent(output, input, missing))
            fail("the output " + output + " is the input " + input + ": give another output");
    }
}

}  // namespace zelk::tool
