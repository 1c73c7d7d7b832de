// zelk marker's printable sheets: the marker comes out at exactly the physical size asked
// for, in SVG (millimetres), PDF (points) and PNG (pixels at a stated resolution); a board's
// markers come out at their places.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "detect/detector.h"
#include "pose/initial_rotation.h"
#include "tests/apps/run_zelk.h"
#include "tests/support/board_scene.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"
#include "tests/support/test_detector.h"

namespace {

constexpr double POINTS_PER_MM = 72.0 / 25.4;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The number after `name="` in the first element of the given id (or the svg element).
double attribute(const std::string& svg, const std::string& element, const std::string& name) {
    const size_t at = svg.find(element);
    EXPECT_NE(at, std::string::npos) << element;
    const size_t value = svg.find(" " + name + "=\"", at);
    EXPECT_NE(value, std::string::npos) << name;
    return std::stod(svg.substr(value + name.size() + 3));
}

struct Sheet {
    double millimetres;
    double dpi;
};

class MarkerSheets : public ::testing::TestWithParam<Sheet> {
protected:
    void SetUp() override {
        pattern = scratchPath("design.patt");
        writePatternFile(pattern, makePatternPicture(1));
        size = cv::format("%g", GetParam().millimetres);
    }
    std::string pattern, size;
};

TEST_P(MarkerSheets, SvgMeasuresInMillimetresAndDrawsTheMarkerAtTheSize) {
    const std::string path = scratchPath("sheet.svg");
    const ZelkRun run = runZelk("marker " + pattern + " --size " + size + " --name door -o " + path);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string svg = readFile(path);
    double page[4];
    const size_t svgAt = svg.find("<svg ");
    ASSERT_NE(svgAt, std::string::npos);
    ASSERT_EQ(std::sscanf(svg.c_str() + svg.find(" width=", svgAt),
                          " width=\"%lfmm\" height=\"%lfmm\" viewBox=\"0 0 %lf %lf\"", &page[0], &page[1], &page[2],
                          &page[3]),
              4)
        << svg.substr(0, 400);
    // One user unit is one millimetre.
    EXPECT_EQ(page[0], page[2]);
    EXPECT_EQ(page[1], page[3]);
    const double millimetres = GetParam().millimetres;
    EXPECT_NEAR(attribute(svg, "id=\"marker\"", "width"), millimetres, 1e-4);
    EXPECT_NEAR(attribute(svg, "id=\"marker\"", "height"), millimetres, 1e-4);
    // The picture fills the middle half; the cut line surrounds the marker; all on the page.
    const double x = attribute(svg, "id=\"marker\"", "x"), cut = attribute(svg, "id=\"cut\"", "x");
    EXPECT_NEAR(attribute(svg, "<image", "x"), x + millimetres / 4, 1e-4);
    EXPECT_NEAR(attribute(svg, "<image", "width"), millimetres / 2, 1e-4);
    EXPECT_LT(cut, x);
    EXPECT_LE(x + millimetres, cut + attribute(svg, "id=\"cut\"", "width"));
    EXPECT_LT(cut + attribute(svg, "id=\"cut\"", "width"), page[0]);
    EXPECT_NE(svg.find(">door  " + size + " mm</text>"), std::string::npos);
}

TEST_P(MarkerSheets, PdfPageAndMarkerMeasureInPoints) {
    const std::string path = scratchPath("sheet.pdf");
    const ZelkRun run = runZelk("marker " + pattern + " --size " + size + " -o " + path);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string pdf = readFile(path);
    ASSERT_EQ(pdf.rfind("%PDF-1.4\n", 0), 0u);
    double pageWidth, pageHeight, x, y, w, h;
    ASSERT_EQ(std::sscanf(pdf.c_str() + pdf.find("/MediaBox"), "/MediaBox [0 0 %lf %lf]", &pageWidth, &pageHeight), 2);
    // The filled square (black border) is the marker.
    const size_t fill = pdf.find("0 g\n");
    ASSERT_NE(fill, std::string::npos);
    char operators[8] = {};
    ASSERT_EQ(std::sscanf(pdf.c_str() + fill, "0 g %lf %lf %lf %lf %7[ref ]", &x, &y, &w, &h, operators), 5);
    EXPECT_STREQ(operators, "re f");
    const double points = GetParam().millimetres * POINTS_PER_MM;
    EXPECT_NEAR(w, points, 1e-3);
    EXPECT_NEAR(h, points, 1e-3);
    EXPECT_GT(x, 0);
    EXPECT_GT(y, 0);
    EXPECT_LT(x + w, pageWidth);
    EXPECT_LT(y + h, pageHeight);
    // The picture is drawn over the middle half.
    double scaleX, scaleY, atX, atY;
    const size_t draw = pdf.find("cm /Picture0 Do Q");
    ASSERT_NE(draw, std::string::npos);
    ASSERT_EQ(
        std::sscanf(pdf.c_str() + pdf.rfind("q ", draw), "q %lf 0 0 %lf %lf %lf cm", &scaleX, &scaleY, &atX, &atY), 4);
    EXPECT_NEAR(scaleX, points / 2, 1e-3);
    EXPECT_NEAR(scaleY, points / 2, 1e-3);
    EXPECT_NEAR(atX, x + points / 4, 1e-3);
    EXPECT_NEAR(atY, y + points / 4, 1e-3);
    EXPECT_NE(pdf.find("design  " + size + " mm) Tj"), std::string::npos) << "the caption names the source";

    // A reader finds every object where the cross-reference table says it is.
    const size_t xref = std::stoul(pdf.substr(pdf.rfind("startxref\n") + 10));
    ASSERT_EQ(pdf.compare(xref, 5, "xref\n"), 0);
    std::istringstream table(pdf.substr(xref + 5));
    int first, count;
    table >> first >> count;
    ASSERT_EQ(count, 7);
    std::string offset, generation, kind;
    table >> offset >> generation >> kind;  // the free entry
    for (int object = 1; object < count; ++object) {
        table >> offset >> generation >> kind;
        EXPECT_EQ(pdf.substr(std::stoul(offset), std::to_string(object).size() + 6), std::to_string(object) + " 0 obj")
            << "object " << object;
    }
}

TEST_P(MarkerSheets, PngCarriesItsResolutionAndTheMarkerSpansTheSizeInPixels) {
    const std::string path = scratchPath("sheet.png");
    const double dpi = GetParam().dpi;
    const ZelkRun run =
        runZelk("marker " + pattern + " --size " + size + " --dpi " + cv::format("%g", dpi) + " -o " + path);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::string png = readFile(path);
    const size_t phys = png.find("pHYs");
    ASSERT_NE(phys, std::string::npos);
    auto word = [&](size_t at) {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(png[at + i]);
        return value;
    };
    EXPECT_EQ(word(phys + 4), std::lround(dpi / 0.0254));
    EXPECT_EQ(word(phys + 8), std::lround(dpi / 0.0254));
    EXPECT_EQ(png[phys + 12], 1) << "unit: metre";

    // The black square: the bounding box of the largest dark region.
    const cv::Mat image = cv::imread(path, cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(image.empty());
    cv::Mat dark, labels, stats, centroids;
    cv::threshold(image, dark, 60, 255, cv::THRESH_BINARY_INV);
    const int regions = cv::connectedComponentsWithStats(dark, labels, stats, centroids);
    int largest = 1;
    for (int k = 2; k < regions; ++k)
        if (stats.at<int>(k, cv::CC_STAT_AREA) > stats.at<int>(largest, cv::CC_STAT_AREA)) largest = k;
    const long pixels = std::lround(GetParam().millimetres / 25.4 * dpi);
    EXPECT_EQ(stats.at<int>(largest, cv::CC_STAT_WIDTH), pixels);
    EXPECT_EQ(stats.at<int>(largest, cv::CC_STAT_HEIGHT), pixels);
    // So printed at its resolution, it is within half a pixel of the size.
    EXPECT_LE(std::abs(pixels * 25.4 / dpi - GetParam().millimetres), 0.5 * 25.4 / dpi);
}

// A fiducial family's cells fill the whole black square, border included, on every sheet.
TEST(FamilySheets, TheCellsFillTheMarkerSquare) {
    const std::string svgPath = scratchPath("tag.svg"), pdfPath = scratchPath("tag.pdf");
    ASSERT_EQ(runZelk("marker --family tag36h11 --id 5 --size 127 -o " + svgPath).exitCode, 0);
    ASSERT_EQ(runZelk("marker --family tag36h11 --id 5 --size 127 -o " + pdfPath).exitCode, 0);
    const std::string svg = readFile(svgPath);
    EXPECT_NEAR(attribute(svg, "<image", "x"), attribute(svg, "id=\"marker\"", "x"), 1e-4);
    EXPECT_NEAR(attribute(svg, "<image", "width"), 127, 1e-4);
    EXPECT_NE(svg.find(">tag36h11 id 5  127 mm</text>"), std::string::npos);
    const std::string pdf = readFile(pdfPath);
    double x, y, w, h, scaleX, scaleY, atX, atY;
    ASSERT_EQ(std::sscanf(pdf.c_str() + pdf.find("0 g\n"), "0 g %lf %lf %lf %lf re f", &x, &y, &w, &h), 4);
    const size_t draw = pdf.find("cm /Picture0 Do Q");
    ASSERT_NE(draw, std::string::npos);
    ASSERT_EQ(
        std::sscanf(pdf.c_str() + pdf.rfind("q ", draw), "q %lf 0 0 %lf %lf %lf cm", &scaleX, &scaleY, &atX, &atY), 4);
    EXPECT_NEAR(scaleX, w, 1e-3);
    EXPECT_NEAR(scaleY, h, 1e-3);
    EXPECT_NEAR(atX, x, 1e-3);
    EXPECT_NEAR(atY, y, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MarkerSheets,
                         ::testing::Values(Sheet{80, 300}, Sheet{62.5, 600}, Sheet{150, 150}, Sheet{17.3, 1200}),
                         [](const auto& info) { return "Size" + std::to_string(info.index); });

}  // namespace

// A board's sheet, read back by the detector: every marker where the board puts it, at the
// printed scale, turned as the board turns it; the vector sheets hold every marker.
TEST(BoardSheets, TheDetectorFindsTheBoardAtItsPrintedScale) {
    const zelk::BoardFile board = testBoard(6);
    const std::string boardFile = writeBoardFiles(board), png = scratchPath("board.png");
    ASSERT_EQ(runZelk("marker " + boardFile + " --dpi 100 -o " + png).exitCode, 0);
    cv::Mat bgra;
    cv::cvtColor(cv::imread(png, cv::IMREAD_COLOR), bgra, cv::COLOR_BGR2BGRA);
    const std::unique_ptr<zelk::Detector> detector = newDetector();
    detector->poseSettings.precise = true;  // corners on the sub-pixel edge
    for (const zelk::BoardMarker& marker : board.markers)
        ASSERT_GE(
            zelk::loadPattern(&detector->patterns, zelk::boardPatternPath(boardFile.c_str(), marker.pattern).c_str()),
            0);
    const zelk::FrameImage frame{bgra.data, bgra.cols, bgra.rows, int32_t(bgra.step)};
    ASSERT_EQ(zelk::detectMarkers(detector.get(), &frame, 100), 0);
    const double pixelsPerUnit = 100 / 25.4;  // the page stays within the detector's 1024 x 1024
    double centres[6][2] = {};
    for (int i = 0; i < 6; i++) {
        const zelk::MarkerRecord* found = nullptr;
        for (int32_t m = 0; m < detector->markers.count; m++)
            if (detector->markers.records[m].patternId == i) found = &detector->markers.records[m];
        ASSERT_NE(found, nullptr) << "marker " << i;
        double corners[4][2];
        for (int j = 0; j < 4; j++) {
            const double* c = found->corners[zelk::patternCornerIndex(found->direction, j)];
            corners[j][0] = c[0], corners[j][1] = c[1];
            centres[i][0] += c[0] / 4, centres[i][1] += c[1] / 4;
        }
        // The top edge runs along the marker's turn, counter-clockwise on the page (y down).
        const double top = std::atan2(-(corners[1][1] - corners[0][1]), corners[1][0] - corners[0][0]) * 180 / CV_PI;
        EXPECT_NEAR(std::remainder(top - board.markers[i].rotation, 360), 0, 1) << "marker " << i;
        EXPECT_NEAR(std::hypot(corners[1][0] - corners[0][0], corners[1][1] - corners[0][1]),
                    board.markers[i].width * pixelsPerUnit, 1.5);
    }
    for (int i = 1; i < 6; i++) {
        EXPECT_NEAR(centres[i][0] - centres[0][0],
                    (board.markers[i].centre[0] - board.markers[0].centre[0]) * pixelsPerUnit, 1);
        EXPECT_NEAR(centres[i][1] - centres[0][1],
                    -(board.markers[i].centre[1] - board.markers[0].centre[1]) * pixelsPerUnit, 1);
    }
    const std::string svg = scratchPath("board.svg"), pdf = scratchPath("board.pdf");
    ASSERT_EQ(runZelk("marker " + boardFile + " -o " + svg).exitCode, 0);
    ASSERT_EQ(runZelk("marker " + boardFile + " -o " + pdf).exitCode, 0);
    const std::string svgText = readFile(svg);
    size_t markers = 0;
    for (size_t at = svgText.find("id=\"marker\""); at != std::string::npos; at = svgText.find("id=\"marker\"", at + 1))
        markers++;
    EXPECT_EQ(markers, 6u);
    EXPECT_NE(readFile(pdf).find("/Picture5 Do Q"), std::string::npos);
}

TEST(BoardSheets, ABadBoardIsNamedWithItsLine) {
    const std::string boardFile = scratchPath("bad.board");
    writeTextFile(boardFile, "# fine\nmarker 0 0 0 50 a.patt\nmarker 0 0 zero 50 b.patt\n");
    const ZelkRun run = runZelk("marker " + boardFile + " -o " + scratchPath("bad.svg"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("bad.board line 3: "), std::string::npos) << run.output;
}
