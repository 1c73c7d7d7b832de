// zelk pattern: a pattern file from a picture, or from a printable marker image whose
// black border (the outer quarter of the width on every side) is cut away first.
//
// A pattern file holds four orientation blocks of 16 x 16 x 3 intensities as decimal
// text. Block o is the printed picture turned by o quarter turns counter-clockwise;
// within a block come plane (blue, green, red: the frame's byte order), row, column.
#include <fstream>
#include <iostream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/commands.h"

namespace zelk::tool {

namespace {

constexpr int PATTERN_SIZE = 16;

// Writes the four orientation blocks of a 16 x 16 BGR picture.
void writePatternFile(const cv::Mat& picture, const std::string& path) {
    CV_Assert(picture.type() == CV_8UC3 && picture.rows == PATTERN_SIZE && picture.cols == PATTERN_SIZE);
    std::ofstream out(path);
    if (!out) fail("cannot write " + path);
    cv::Mat block = picture.clone();
    for (int orientation = 0; orientation < 4; ++orientation) {
        for (int plane = 0; plane < 3; ++plane) {
            for (int row = 0; row < PATTERN_SIZE; ++row) {
                for (int column = 0; column < PATTERN_SIZE; ++column) {
                    out << cv::format("%4d", block.at<cv::Vec3b>(row, column)[plane]);
                }
                out << "\n";
            }
        }
        out << "\n";
        cv::rotate(block, block, cv::ROTATE_90_COUNTERCLOCKWISE);
    }
    if (!out.flush()) fail("cannot write " + path);
}

// The ring outside the inner half is a marker border when nearly all of it is dark.
bool hasMarkerBorder(const cv::Mat& image) {
    const cv::Rect inner(image.cols / 4, image.rows / 4, image.cols / 2, image.rows / 2);
    cv::Mat dark;
    cv::inRange(image, cv::Scalar(0, 0, 0), cv::Scalar(80, 80, 80), dark);
    dark(inner).setTo(0);
    const double ring = double(image.total()) - double(inner.area());
    return ring > 0 && cv::countNonZero(dark) >= 0.95 * ring;
}

void makePattern(const std::string& imagePath, const std::string& border, const std::string& output) {
    cv::Mat image = cv::imread(imagePath, cv::IMREAD_COLOR);
    if (image.empty()) fail("cannot read the picture " + imagePath);
    const bool cut = border == "yes" || (border == "auto" && hasMarkerBorder(image));
    if (cut) image = image(cv::Rect(image.cols / 4, image.rows / 4, image.cols / 2, image.rows / 2));
    if (image.rows < 1 || image.cols < 1) fail(imagePath + " is too small");
    cv::Mat picture;
    cv::resize(image, picture, cv::Size(PATTERN_SIZE, PATTERN_SIZE), 0, 0, cv::INTER_AREA);
    writePatternFile(picture, output);
    std::cout << output << ": pattern from " << (cut ? "the inner half of " : "") << imagePath << "\n";
}

}  // namespace

void addPatternCommand(CLI::App& app) {
    auto* command = app.add_subcommand("pattern", "make a pattern file from a picture or a marker image");
    auto image = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    auto border = std::make_shared<std::string>("auto");
    command->add_option("image", *image, "the picture (any image format OpenCV reads)")->required();
    command->add_option("-o,--output", *output, "the pattern file to write")->required();
    command->add_option("--border", *border,
                        "yes: the image is a printable marker, use its inner half; no: use it whole; "
                        "auto: yes when the outer quarter is black")
        ->check(CLI::IsMember({"auto", "yes", "no"}))
        ->capture_default_str();
    command->callback([=] { makePattern(*image, *border, *output); });
}

}  // namespace zelk::tool
