// zelk pattern: a pattern file from a picture, from a straight-on marker image, from a
// camera frame with the marker in view, or for a printed fiducial family's marker.
//
// A pattern file holds four orientation blocks of 16 x 16 x 3 intensities as decimal
// text. Block o is the printed picture turned by o quarter turns counter-clockwise;
// within a block come plane (blue, green, red: the frame's byte order), row, column.
//
// Identification compares the middle half of the black square, whatever its border width:
// for a marker with a border a quarter of the width that is the picture inside the border;
// for a family's marker with a border one cell wide it is the middle of the cells (for
// AprilTag 36h11 the central 4 x 4 of its 6 x 6 data cells). A pattern holds just that.
//
// A straight-on marker image may have a margin (a printable sheet with its cut line and
// caption): the marker is the bounding box of the largest dark region, when that box is
// square and a ring along its edge nearly all dark: its outer quarter for --border auto,
// a thin ring (any border width) for --border yes. In a camera frame the marker is the
// largest square candidate the plug-in's own detection finds, unwarped by its own
// identification code; its top-left corner is the one nearest the frame's top-left, so
// the marker must be seen less than 45 degrees from upright.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/arguments.h"
#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"
#include "apps/zelk/fiducial_family.h"
#include "detect/detector.h"

namespace zelk::tool {

namespace {

// The per-channel level below which a pixel counts as black border.
constexpr int DARK_LEVEL = 80;
// The border widths, as a fraction of the square's width, that --border auto and yes recognise.
constexpr double QUARTER_BORDER = 0.25;
constexpr double ANY_BORDER = 1.0 / 32;
// A square seen up to about 65 degrees from straight on keeps its shortest side above this
// share of its longest; a bar or a line of text does not.
constexpr double SQUARE_SIDE_RATIO = 0.4;

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

// The inner half of a marker square, its border rounded as zelk marker draws it.
cv::Rect innerHalf(const cv::Rect& box) {
    const int x = (box.width + 2) / 4, y = (box.height + 2) / 4;
    return cv::Rect(box.x + x, box.y + y, box.width - 2 * x, box.height - 2 * y);
}

// The black square of a straight-on marker image: the bounding box of the largest dark
// region, when it is square within 2 % and a ring along its edge, `border` of its width
// thick, is at least 95 % dark.
bool findBorderBox(const cv::Mat& image, double border, cv::Rect* box) {
    cv::Mat dark, labels, stats, centroids;
    cv::inRange(image, cv::Scalar(0, 0, 0), cv::Scalar(DARK_LEVEL, DARK_LEVEL, DARK_LEVEL), dark);
    const int count = cv::connectedComponentsWithStats(dark, labels, stats, centroids, 8);
    int largest = 0;
    for (int k = 1; k < count; ++k)
        if (!largest || stats.at<int>(k, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA)) largest = k;
    if (!largest) return false;
    const cv::Rect found(stats.at<int>(largest, cv::CC_STAT_LEFT), stats.at<int>(largest, cv::CC_STAT_TOP),
                         stats.at<int>(largest, cv::CC_STAT_WIDTH), stats.at<int>(largest, cv::CC_STAT_HEIGHT));
    if (found.width < 8 || std::abs(found.width - found.height) > 0.02 * found.width) return false;
    const int thickness = std::max(1, static_cast<int>(std::lround(border * found.width)));
    const cv::Rect inner(found.x + thickness, found.y + thickness, found.width - 2 * thickness,
                         found.height - 2 * thickness);
    cv::Mat ring = dark(found).clone();
    ring(inner - found.tl()).setTo(0);
    const double ringArea = double(found.area()) - double(inner.area());
    if (cv::countNonZero(ring) < 0.95 * ringArea) return false;
    *box = found;
    return true;
}

// Detection takes any four-cornered outline; a marker in view is also roughly square.
bool plausibleSquare(const SquareCandidate& candidate) {
    double shortest = 1e300, longest = 0;
    for (int i = 0; i < 4; ++i) {
        const int a = candidate.vertexIndex[i], b = candidate.vertexIndex[(i + 1) % 4];
        const double side =
            std::hypot(candidate.contourX[b] - candidate.contourX[a], candidate.contourY[b] - candidate.contourY[a]);
        shortest = std::min(shortest, side);
        longest = std::max(longest, side);
    }
    return shortest >= SQUARE_SIDE_RATIO * longest;
}

struct FoundMarker {
    PatternImage image;  // as identification unwarps it: row 0 from corner 0 to corner 1
    cv::Point2d corner[4];
    int topLeft;  // the corner nearest the frame's top-left
};

// The largest square candidate of a frame, unwarped as identification does. False when none.
bool findMarkerInView(const cv::Mat& picture, int threshold, FoundMarker* found, double* scale) {
    // The labelling holds at most LABEL_IMAGE_CAPACITY pixels: larger photos are shrunk.
    cv::Mat image = picture;
    *scale = 1.0;
    if (double(image.total()) > LABEL_IMAGE_CAPACITY) {
        *scale = std::sqrt(LABEL_IMAGE_CAPACITY / double(image.total()));
        cv::resize(picture, image, cv::Size(), *scale, *scale, cv::INTER_AREA);
        while (!labelImageFits(image.cols, image.rows))
            cv::resize(image, image, cv::Size(image.cols - 1, image.rows - 1), 0, 0, cv::INTER_AREA);
        *scale = double(image.cols) / picture.cols;
    }
    if (!labelImageFits(image.cols, image.rows)) return false;
    cv::Mat frame;
    cv::cvtColor(image, frame, cv::COLOR_BGR2BGRA);
    const FrameImage view = {frame.data, frame.cols, frame.rows, int32_t(frame.step)};
    const auto detector = std::make_unique<Detector>();
    const Labelling labelling = labelFrame(&detector->labels, &view, threshold);
    if (!labelling.image || labelling.regionCount == 0) return false;
    // Candidates are traced region by region, largest area first, so that the candidate
    // list's capacity never hides the largest square among many small regions.
    std::vector<int32_t> areas(labelling.regionArea, labelling.regionArea + labelling.regionCount);
    std::sort(areas.begin(), areas.end(), std::greater<int32_t>());
    areas.erase(std::unique(areas.begin(), areas.end()), areas.end());
    const CandidateLimits& limits = detector->settings.candidateLimits;
    for (const int32_t area : areas) {
        if (area < limits.smallestArea) break;
        const CandidateLimits only = {area, area, limits.vertexFactor};
        const int32_t count = extractCandidates(&labelling, &only, &detector->candidates);
        for (int32_t k = 0; k < count; ++k) {
            const SquareCandidate& candidate = detector->candidates.entries[k];
            if (candidate.pixelArea == 0 || !plausibleSquare(candidate)) continue;
            if (extractPatternImage(&view, candidate.contourX, candidate.contourY, candidate.vertexIndex,
                                    &found->image) < 0)
                continue;
            double best = -1e300;
            for (int i = 0; i < 4; ++i) {
                const int v = candidate.vertexIndex[i];
                found->corner[i] = cv::Point2d(candidate.contourX[v], candidate.contourY[v]) / *scale;
                const double towardTopLeft =
                    -(candidate.contourX[v] - candidate.centre[0]) - (candidate.contourY[v] - candidate.centre[1]);
                if (towardTopLeft > best) {
                    best = towardTopLeft;
                    found->topLeft = i;
                }
            }
            return true;
        }
    }
    return false;
}

// The printed picture of a marker found in view: what identification unwarped, turned so
// that the top-left corner comes first.
cv::Mat printedPicture(const FoundMarker& found) {
    cv::Mat unwarped(PATTERN_SIZE, PATTERN_SIZE, CV_8UC3);
    std::copy(found.image.value, found.image.value + PATTERN_VALUES, unwarped.data);
    // Identification reports direction d when the top-left corner is corner (4 - d) mod 4 and
    // it matched block d, the picture turned d times: so the picture is the unwarped image
    // turned counter-clockwise as many times as the top-left corner's index.
    for (int turn = 0; turn < found.topLeft; ++turn) cv::rotate(unwarped, unwarped, cv::ROTATE_90_COUNTERCLOCKWISE);
    return unwarped;
}

// A picture as 16 x 16 pattern pixels, each the mean of the area it covers, as
// identification's samples average it. OpenCV's area resampling interpolates when it
// enlarges, so a small picture is first enlarged by repeating its pixels.
cv::Mat patternPixels(cv::Mat picture) {
    const auto enlargement = [](int side) { return side < PATTERN_SIZE * PATTERN_SIZE ? PATTERN_SIZE : 1; };
    cv::resize(picture, picture, cv::Size(), enlargement(picture.cols), enlargement(picture.rows), cv::INTER_NEAREST);
    cv::resize(picture, picture, cv::Size(PATTERN_SIZE, PATTERN_SIZE), 0, 0, cv::INTER_AREA);
    return picture;
}

// The middle half of a family marker's black square.
cv::Mat familyPicture(const std::string& family, int id) {
    cv::Mat cells = familyCells(family, id);
    cv::resize(cells, cells, cv::Size(), 4, 4, cv::INTER_NEAREST);  // the middle half's edges on whole pixels
    cv::cvtColor(cells(innerHalf(cv::Rect(0, 0, cells.cols, cells.rows))), cells, cv::COLOR_GRAY2BGR);
    return patternPixels(cells);
}

// What identification cannot tell about a family's marker from its middle half: the other
// ids whose middle half is the same, turned or not, and whether it looks alike turned.
std::string lookAlikes(const std::string& family, int id, const cv::Mat& picture) {
    const auto same = [](const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF) == 0; };
    std::string others, warning;
    cv::Mat turned = picture.clone();
    for (int turn = 1; turn < 4; ++turn) {
        cv::rotate(turned, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
        if (same(turned, picture)) {
            warning = "\nwarning: its middle half looks the same turned by " + std::to_string(turn * 90) +
                      " degrees: the direction identification reports is not to be trusted";
            break;
        }
    }
    for (int other = 0; other < familySize(family); ++other) {
        if (other == id) continue;
        cv::Mat look = familyPicture(family, other);
        for (int turn = 0; turn < 4; ++turn, cv::rotate(look, look, cv::ROTATE_90_COUNTERCLOCKWISE)) {
            if (same(look, picture)) {
                others += " " + std::to_string(other);
                break;
            }
        }
    }
    if (!others.empty())
        warning += "\nwarning: the middle half of id " + std::to_string(id) + " is that of id" + others +
                   ", turned or not: identification cannot tell them apart, so register only one of them";
    return warning;
}

struct PatternOptions {
    std::string image, output, border = "auto", family;
    int id = 0;
    bool find = false;
    int threshold = 100;
};

void makePattern(const PatternOptions& options) {
    if (options.image.empty() == options.family.empty()) fail("give either a picture or --family");
    refuseOverwriting(options.output, {options.image});
    cv::Mat picture;
    std::string from;
    cv::Mat image;
    if (!options.family.empty()) {
        picture = familyPicture(options.family, options.id);
        from = "the middle half of " + options.family + " id " + std::to_string(options.id) +
               lookAlikes(options.family, options.id, picture);
    } else if ((image = readPicture(options.image, cv::IMREAD_COLOR)).empty()) {
        fail("cannot read the picture " + options.image);
    } else if (options.find) {
        FoundMarker found;
        double scale;
        if (!findMarkerInView(image, options.threshold, &found, &scale))
            fail("no square marker found in " + options.image + " at threshold " + std::to_string(options.threshold));
        picture = printedPicture(found);
        from = "the marker in view in " + options.image + " (corners";
        for (int i = 0; i < 4; ++i) {
            const cv::Point2d& c = found.corner[(found.topLeft + i) % 4];
            from += cv::format(" %.0f,%.0f", c.x, c.y);
        }
        from += ", top-left first)";
    } else {
        cv::Rect box;
        const double border = options.border == "yes" ? ANY_BORDER : QUARTER_BORDER;
        const bool marker = options.border != "no" && findBorderBox(image, border, &box);
        if (options.border == "yes" && !marker)
            fail("no black marker border found in " + options.image + " (is it a straight-on marker image?)");
        from = (marker ? "the inner half of the marker in " : "the whole of ") + options.image;
        if (!marker && options.border == "auto" && findBorderBox(image, ANY_BORDER, &box))
            from += " (its black border is thinner than a quarter: --border yes takes the square's middle half)";
        if (marker) image = image(innerHalf(box));
        if (image.rows < 1 || image.cols < 1) fail(options.image + " is too small");
        picture = patternPixels(image);
    }
    writePatternFile(picture, options.output);
    std::cout << options.output << ": pattern from " << from << "\n";
}

}  // namespace

void addPatternCommand(CLI::App& app) {
    auto* command = app.add_subcommand("pattern", "make a pattern file from a picture, a marker image or a frame");
    auto options = std::make_shared<PatternOptions>();
    command->add_option("image", options->image, "the picture (PNG, JPEG or any format OpenCV reads)");
    command->add_option("-o,--output", options->output, "the pattern file to write")->required();
    command
        ->add_option("--border", options->border,
                     "yes: a straight-on marker image with a black border of any width (a margin around it is "
                     "fine), use the middle half of its square; no: the picture whole; auto: yes when a black "
                     "border a quarter of the width is found")
        ->check(oneOf({"auto", "yes", "no"}))
        ->capture_default_str();
    command->add_flag("--find", options->find,
                      "the image is a camera frame or photo: unwarp the largest square marker in view, "
                      "seen roughly upright");
    auto* threshold =
        command->add_option("--threshold", options->threshold, "with --find: the darkness threshold, as for tracking")
            ->check(wholeNumber(0, 255))
            ->capture_default_str();
    auto* family =
        command->add_option("--family", options->family,
                            "no picture: the pattern of a printed fiducial family's marker, one of " + familyNames());
    command->add_option("--id", options->id, "with --family: the marker's id in its family")->needs(family);
    family->excludes("--find")->excludes("--border")->excludes(threshold);
    command->callback([options] { makePattern(*options); });
}

}  // namespace zelk::tool
