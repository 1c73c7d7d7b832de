// zelk marker: a marker to print, or to use as a synthetic scene's marker image.
//
// A marker is a black square whose outer quarter of the width, on every side, is black;
// the picture fills the inner half. A printed fiducial family's marker instead fills the
// whole square with its cells, its border one cell wide. Without a physical size the output is that square
// alone, N x N pixels. With one (always for SVG and PDF) it is a sheet: the marker at
// exactly the size asked for, a white gap, a thin grey cut line, and the name and size in
// small print inside the cut line, below the marker. SVG sheets measure in millimetres,
// PDF pages in points (72 to the inch), and PNG sheets carry their resolution (pHYs) so
// that a printer at 100 % reproduces the size. A board file (.board) gives a sheet of all
// its markers at their places, one board unit to the millimetre.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/arguments.h"
#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"
#include "apps/zelk/fiducial_family.h"
#include "platform/videocapture/render/synthetic_scene.h"
#include "pose/board_file.h"

namespace zelk::tool {

namespace {

namespace fs = std::filesystem;

constexpr double MM_PER_INCH = 25.4;
constexpr double POINTS_PER_INCH = 72.0;
constexpr double CAPTION_MM = 2.5;    // font size of the caption
constexpr double CUT_LINE_MM = 0.2;   // width of the cut line
constexpr double PAGE_MARGIN_MM = 5;  // outside the cut line
const cv::Scalar CUT_LINE_GREY(150, 150, 150);

// The printed picture of a pattern file: its orientation block 0.
cv::Mat patternPicture(const std::string& path) {
    synth::MarkerFace face;
    std::string error;
    if (!synth::loadPatternFace(path, &face, &error)) fail(error);
    const cv::Mat whole(face.size, face.size, CV_8UC3, face.bgr.data());
    return whole(cv::Rect(face.size / 4, face.size / 4, face.size / 2, face.size / 2)).clone();
}

bool isPatternFile(const std::string& path) {
    const fs::path extension = fs::path(path).extension();
    return extension == ".patt" || extension == ".pat";
}

// What fills the black square: a picture in its inner half, or the whole square (a family's cells).
struct Face {
    cv::Mat picture;
    bool whole;
    // The picture's place in a square of the given width at (x, y).
    cv::Rect2d place(double x, double y, double width) const {
        const double border = whole ? 0 : width / 4;
        return cv::Rect2d(x + border, y + border, width - 2 * border, width - 2 * border);
    }
};

// Fills rectangle area of image with the picture: enlarging keeps the cells crisp, shrinking averages.
void drawPicture(const cv::Mat& picture, cv::Mat image, const cv::Rect& area) {
    const int interpolation = picture.cols < area.width ? cv::INTER_NEAREST : cv::INTER_AREA;
    cv::resize(picture, image(area), area.size(), 0, 0, interpolation);
}

// A black square on a sheet, in millimetres from the page's top-left: its left and top
// before it is turned about its centre by rotation degrees, counter-clockwise as printed.
struct Placement {
    Face face;
    double x, y, size, rotation;
};

// Sheet geometry in millimetres, origin at the top-left of the page.
struct Sheet {
    std::vector<Placement> markers;
    double width, height;  // of the page
    double cut;            // left and top of the cut line's centre line
    double cutWidth, cutHeight;
    double captionX, caption;  // left and baseline of the caption
    std::string text;
};

// A sheet around markers placed within an extent (width x height, placements relative to
// its top-left), with the gap between the extent and the cut line.
Sheet layOut(std::vector<Placement> markers, double width, double height, double gap, const std::string& text) {
    Sheet sheet;
    sheet.cut = PAGE_MARGIN_MM;
    const double left = sheet.cut + gap;
    for (Placement& marker : markers) marker.x += left, marker.y += left;
    sheet.markers = std::move(markers);
    sheet.cutWidth = width + 2 * gap;
    sheet.cutHeight = height + 2 * gap;
    sheet.width = sheet.cutWidth + 2 * PAGE_MARGIN_MM;
    sheet.height = sheet.cutHeight + 2 * PAGE_MARGIN_MM;
    sheet.captionX = left;
    sheet.caption = left + height + 1.5 + CAPTION_MM * 0.75;
    sheet.text = text;
    return sheet;
}

double sheetGap(double size) { return std::max(size / 8, 6.0); }

std::string caption(const std::string& name, const std::string& size) {
    return name + (name.empty() ? "" : "  ") + size + " mm";
}

std::string millimetres(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

Sheet sheetFor(const Face& face, double size, const std::string& name) {
    return layOut({{face, 0, 0, size, 0}}, size, size, sheetGap(size), caption(name, millimetres(size)));
}

// A board's sheet: its markers where the board puts them, the board's y up the page.
Sheet boardSheet(const std::string& path, const std::string& name) {
    const zelk::BoardFile board = checkBoardFile(path);
    double low[2] = {1e300, 1e300}, high[2] = {-1e300, -1e300}, widest = 0;
    for (const zelk::BoardMarker& marker : board.markers) {
        double corners[4][2];
        zelk::boardMarkerCorners(marker, corners);
        for (const auto& corner : corners)
            for (int k = 0; k < 2; k++) low[k] = std::min(low[k], corner[k]), high[k] = std::max(high[k], corner[k]);
        widest = std::max(widest, marker.width);
    }
    std::vector<Placement> markers;
    for (const zelk::BoardMarker& marker : board.markers) {
        const Face face{patternPicture(zelk::boardPatternPath(path.c_str(), marker.pattern)), false};
        markers.push_back({face, marker.centre[0] - low[0] - marker.width / 2,
                           high[1] - marker.centre[1] - marker.width / 2, marker.width, marker.rotation});
    }
    const double width = high[0] - low[0], height = high[1] - low[1];
    return layOut(markers, width, height, sheetGap(widest), caption(name, cv::format("%.1f x %.1f", width, height)));
}

// ---- PNG sheet -----------------------------------------------------------------------

uint32_t crc32(const unsigned char* data, size_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(std::vector<unsigned char>* bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(static_cast<unsigned char>(value >> shift));
}

// PNG bytes with a pHYs chunk (pixels per metre) right after the header chunk.
std::vector<unsigned char> withResolution(const std::vector<unsigned char>& png, double dpi) {
    constexpr size_t AFTER_HEADER = 8 + 4 + 4 + 13 + 4;  // signature, IHDR length, type, data, CRC
    CV_Assert(png.size() > AFTER_HEADER);
    std::vector<unsigned char> chunk;
    appendBigEndian(&chunk, 9);
    const char type[] = "pHYs";
    chunk.insert(chunk.end(), type, type + 4);
    const uint32_t perMetre = static_cast<uint32_t>(std::lround(dpi / MM_PER_INCH * 1000));
    appendBigEndian(&chunk, perMetre);
    appendBigEndian(&chunk, perMetre);
    chunk.push_back(1);  // the unit is the metre
    appendBigEndian(&chunk, crc32(chunk.data() + 4, chunk.size() - 4));
    std::vector<unsigned char> out(png.begin(), png.begin() + AFTER_HEADER);
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + AFTER_HEADER, png.end());
    return out;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    if (!out.write(bytes.data(), std::streamsize(bytes.size())) || !out.flush()) fail("cannot write " + path);
}

// The marker square alone, pixels x pixels, into image at (x, y).
void drawMarker(const Face& face, cv::Mat image, int x, int y, int pixels) {
    image(cv::Rect(x, y, pixels, pixels)).setTo(cv::Scalar(0, 0, 0));
    const int border = face.whole ? 0 : (pixels + 2) / 4;
    drawPicture(face.picture, image, cv::Rect(x + border, y + border, pixels - 2 * border, pixels - 2 * border));
}

// The marker turned on the page: drawn upright, then turned about its centre.
void drawPlacement(const Placement& marker, cv::Mat page, const std::function<int(double)>& px) {
    const int side = px(marker.size);
    if (marker.rotation == 0) return drawMarker(marker.face, page, px(marker.x), px(marker.y), side);
    cv::Mat upright(side, side, CV_8UC3);
    drawMarker(marker.face, upright, 0, 0, side);
    // About the square's centre, pixel centres at whole numbers, to where the upright square would lie.
    const float centre = (side - 1) / 2.0f;
    cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(centre, centre), marker.rotation, 1.0);
    turn.at<double>(0, 2) += px(marker.x);
    turn.at<double>(1, 2) += px(marker.y);
    cv::warpAffine(upright, page, turn, page.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
}

std::string pngSheet(const Sheet& sheet, double dpi) {
    const std::function<int(double)> px = [dpi](double mm) {
        return static_cast<int>(std::lround(mm / MM_PER_INCH * dpi));
    };
    const int columns = px(sheet.width), rows = px(sheet.height);
    if (static_cast<double>(columns) * rows > 400e6) fail("the sheet would be larger than 400 million pixels");
    cv::Mat image(rows, columns, CV_8UC3, cv::Scalar(255, 255, 255));
    const int cut = px(sheet.cut);
    cv::rectangle(image, cv::Rect(cut, cut, px(sheet.cutWidth), px(sheet.cutHeight)), CUT_LINE_GREY,
                  std::max(1, px(CUT_LINE_MM)));
    for (const Placement& marker : sheet.markers) drawPlacement(marker, image, px);
    const double unitHeight = cv::getTextSize("Mm", cv::FONT_HERSHEY_SIMPLEX, 1.0, 1, nullptr).height;
    const double scale = CAPTION_MM * 0.7 / MM_PER_INCH * dpi / unitHeight;  // cap height of the font size
    cv::putText(image, sheet.text, cv::Point(px(sheet.captionX), px(sheet.caption)), cv::FONT_HERSHEY_SIMPLEX, scale,
                cv::Scalar(0, 0, 0), std::max(1, px(0.2)), cv::LINE_AA);
    std::vector<unsigned char> png;
    if (!encodePicture(".png", image, &png)) fail("cannot encode the PNG sheet");
    png = withResolution(png, dpi);
    return std::string(png.begin(), png.end());
}

// ---- vector sheets ---------------------------------------------------------------------

// The picture as embedded in a vector sheet: enlarged to at least 256 pixels a side by
// whole cells (so that no viewer blurs the cells), or shrunk to at most 1024.
cv::Mat embeddedPicture(const cv::Mat& picture) {
    cv::Mat out;
    const int side = std::max(picture.cols, picture.rows);
    if (side < 256) {
        const int factor = (256 + side - 1) / side;
        cv::resize(picture, out, cv::Size(picture.cols * factor, picture.rows * factor), 0, 0, cv::INTER_NEAREST);
    } else if (side > 1024) {
        const double scale = 1024.0 / side;
        cv::resize(picture, out, cv::Size(), scale, scale, cv::INTER_AREA);
    } else {
        out = picture;
    }
    return out;
}

std::string base64(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t word = uint32_t(bytes[i]) << 16 | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0) |
                              (i + 2 < bytes.size() ? uint32_t(bytes[i + 2]) : 0);
        out += digits[word >> 18 & 63];
        out += digits[word >> 12 & 63];
        out += i + 1 < bytes.size() ? digits[word >> 6 & 63] : '=';
        out += i + 2 < bytes.size() ? digits[word & 63] : '=';
    }
    return out;
}

std::string xmlText(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

// Millimetres in the SVG's user units, and points in the PDF's: exact to far below a micrometre.
std::string number(double value) { return cv::format("%.4f", value); }

std::string svgPlacement(const Placement& marker) {
    std::vector<unsigned char> png;
    if (!encodePicture(".png", embeddedPicture(marker.face.picture), &png)) fail("cannot encode the picture");
    const cv::Rect2d inner = marker.face.place(marker.x, marker.y, marker.size);
    std::ostringstream svg;
    // SVG turns clockwise on the page: a negative angle about the square's centre.
    const bool turned = marker.rotation != 0;
    if (turned)
        svg << "  <g transform=\"rotate(" << number(-marker.rotation) << " " << number(marker.x + marker.size / 2)
            << " " << number(marker.y + marker.size / 2) << ")\">\n";
    svg << "  <rect id=\"marker\" x=\"" << number(marker.x) << "\" y=\"" << number(marker.y) << "\" width=\""
        << number(marker.size) << "\" height=\"" << number(marker.size)
        << "\" fill=\"#000000\" shape-rendering=\"crispEdges\"/>\n"
        << "  <image x=\"" << number(inner.x) << "\" y=\"" << number(inner.y) << "\" width=\"" << number(inner.width)
        << "\" height=\"" << number(inner.height)
        << "\" preserveAspectRatio=\"none\" image-rendering=\"optimizeSpeed\" style=\"image-rendering:pixelated\" "
        << "xlink:href=\"data:image/png;base64," << base64(png) << "\"/>\n";
    if (turned) svg << "  </g>\n";
    return svg.str();
}

std::string svgSheet(const Sheet& sheet) {
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\""
        << number(sheet.width) << "mm\" height=\"" << number(sheet.height) << "mm\" viewBox=\"0 0 "
        << number(sheet.width) << " " << number(sheet.height) << "\">\n"
        << "  <rect x=\"0\" y=\"0\" width=\"" << number(sheet.width) << "\" height=\"" << number(sheet.height)
        << "\" fill=\"#ffffff\"/>\n"
        << "  <rect id=\"cut\" x=\"" << number(sheet.cut) << "\" y=\"" << number(sheet.cut) << "\" width=\""
        << number(sheet.cutWidth) << "\" height=\"" << number(sheet.cutHeight)
        << "\" fill=\"none\" stroke=\"#969696\" stroke-width=\"" << number(CUT_LINE_MM) << "\"/>\n";
    for (const Placement& marker : sheet.markers) svg << svgPlacement(marker);
    svg << "  <text x=\"" << number(sheet.captionX) << "\" y=\"" << number(sheet.caption)
        << "\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"" << number(CAPTION_MM) << "\">"
        << xmlText(sheet.text) << "</text>\n"
        << "</svg>\n";
    return svg.str();
}

// A PDF string literal in Helvetica's standard encoding: printable ASCII, the rest as '?'.
std::string pdfString(const std::string& text) {
    std::string out = "(";
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += (c >= 32 && c < 127) ? c : '?';
    }
    return out + ")";
}

// The picture as a PDF image object's RGB samples.
std::string pdfImage(const cv::Mat& image) {
    std::string pixels;
    pixels.reserve(image.total() * 3);
    for (int r = 0; r < image.rows; ++r) {
        for (int c = 0; c < image.cols; ++c) {
            const cv::Vec3b& bgr = image.at<cv::Vec3b>(r, c);
            pixels += char(bgr[2]);
            pixels += char(bgr[1]);
            pixels += char(bgr[0]);
        }
    }
    return "<< /Type /XObject /Subtype /Image /Width " + std::to_string(image.cols) + " /Height " +
           std::to_string(image.rows) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Interpolate false /Length " +
           std::to_string(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream";
}

std::string pdfSheet(const Sheet& sheet) {
    const double pt = POINTS_PER_INCH / MM_PER_INCH;
    const double pageHeight = sheet.height * pt;
    auto x = [&](double mm) { return number(mm * pt); };
    auto y = [&](double mm) { return number(pageHeight - mm * pt); };  // PDF's y runs up
    std::ostringstream content;
    content << "0.588 G " << number(CUT_LINE_MM * pt) << " w\n"
            << x(sheet.cut) << " " << y(sheet.cut + sheet.cutHeight) << " " << x(sheet.cutWidth) << " "
            << x(sheet.cutHeight) << " re S\n";
    std::vector<std::string> pictures;
    std::string pictureNames;
    for (const Placement& marker : sheet.markers) {
        const std::string name = "/Picture" + std::to_string(pictures.size());
        pictures.push_back(pdfImage(embeddedPicture(marker.face.picture)));
        pictureNames += name + " " + std::to_string(6 + pictures.size() - 1) + " 0 R ";
        const cv::Rect2d inner = marker.face.place(marker.x, marker.y, marker.size);
        const bool turned = marker.rotation != 0;
        if (turned) {
            // Counter-clockwise about the square's centre, in PDF's upward y.
            const double turn = marker.rotation * CV_PI / 180, c = std::cos(turn), s = std::sin(turn);
            const double cx = (marker.x + marker.size / 2) * pt, cy = pageHeight - (marker.y + marker.size / 2) * pt;
            content << "q " << number(c) << " " << number(s) << " " << number(-s) << " " << number(c) << " "
                    << number(cx - c * cx + s * cy) << " " << number(cy - s * cx - c * cy) << " cm\n";
        }
        content << "0 g\n"
                << x(marker.x) << " " << y(marker.y + marker.size) << " " << x(marker.size) << " " << x(marker.size)
                << " re f\n"
                << "q " << x(inner.width) << " 0 0 " << x(inner.height) << " " << x(inner.x) << " "
                << y(inner.y + inner.height) << " cm " << name << " Do Q\n";
        if (turned) content << "Q\n";
    }
    content << "0 g BT /Caption " << x(CAPTION_MM) << " Tf " << x(sheet.captionX) << " " << y(sheet.caption) << " Td "
            << pdfString(sheet.text) << " Tj ET\n";
    const std::string stream = content.str();

    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + x(sheet.width) + " " + number(pageHeight) +
            "] /Resources << /Font << /Caption 5 0 R >> /XObject << " + pictureNames + ">> >> /Contents 4 0 R >>",
        "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    objects.insert(objects.end(), pictures.begin(), pictures.end());
    std::string pdf = "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const size_t offset : offsets) pdf += cv::format("%010zu 00000 n \n", offset);
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

struct MarkerOptions {
    std::string source, output, name, family;
    int id = 0;
    int pixels = 512;
    double size = 0;  // millimetres; 0 for the bare marker square
    double dpi = 0;   // 0 for the default
};

bool isBoardFile(const std::string& path) { return fs::path(path).extension() == ".board"; }

// The sheet the options ask for: a board's, or one marker's (null when a bare marker image is asked for).
std::unique_ptr<Sheet> makeSheet(MarkerOptions* options, const std::string& extension, Face* face) {
    const bool vector = extension == ".svg" || extension == ".pdf";
    const bool board = isBoardFile(options->source);
    const bool sheet = board || vector || options->size > 0 || options->dpi > 0;
    if (sheet && !vector && extension != ".png") fail("a printable sheet is written as .png, .svg or .pdf");
    if (board && (options->size > 0 || !options->family.empty()))
        fail("a board's sizes come from its file: no --size or --family with a .board");
    if (sheet && options->size == 0) options->size = 80;
    if (sheet && options->dpi == 0) options->dpi = 300;
    if (!sheet && (options->pixels < 32 || options->pixels % 4 != 0))
        fail("--pixels must be a multiple of 4, at least 32");

    if (options->source.empty() == options->family.empty())
        fail("give either a picture, pattern or board file, or --family");
    const std::string stem = fs::path(options->source).stem().string();
    if (board) return std::make_unique<Sheet>(boardSheet(options->source, options->name != "-" ? options->name : stem));
    face->whole = !options->family.empty();
    if (face->whole) {
        cv::cvtColor(familyCells(options->family, options->id), face->picture, cv::COLOR_GRAY2BGR);
        options->source = options->family + " id " + std::to_string(options->id);
    } else {
        face->picture = isPatternFile(options->source) ? patternPicture(options->source)
                                                       : readPicture(options->source, cv::IMREAD_COLOR);
        if (face->picture.empty()) fail("cannot read the picture " + options->source);
    }
    if (!sheet) return nullptr;
    const std::string name = options->name != "-" ? options->name : face->whole ? options->source : stem;
    return std::make_unique<Sheet>(sheetFor(*face, options->size, name));
}

void makeMarker(MarkerOptions options) {
    refuseOverwriting(options.output, {options.source});
    std::string extension = fs::path(options.output).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    Face face;
    const std::unique_ptr<Sheet> layout = makeSheet(&options, extension, &face);
    if (!layout) {
        if (!canWritePicture(options.output)) fail("cannot write " + options.output + ": unknown image format");
        cv::Mat marker(options.pixels, options.pixels, CV_8UC3);
        drawMarker(face, marker, 0, 0, options.pixels);
        if (!writePicture(options.output, marker)) fail("cannot write " + options.output);
        std::cout << options.output << ": " << options.pixels << " x " << options.pixels << " marker from "
                  << options.source << "\n";
        return;
    }
    const bool board = isBoardFile(options.source);
    const std::string what = board ? "board of " + std::to_string(layout->markers.size()) + " markers"
                                   : millimetres(options.size) + " mm marker";
    if (extension == ".svg") {
        writeBytes(options.output, svgSheet(*layout));
    } else if (extension == ".pdf") {
        writeBytes(options.output, pdfSheet(*layout));
    } else {
        writeBytes(options.output, pngSheet(*layout, options.dpi));
        if (!board) {
            const long pixels = std::lround(options.size / MM_PER_INCH * options.dpi);
            std::cout << options.output << ": " << what << ", " << pixels << " pixels at " << options.dpi << " dpi ("
                      << cv::format("%.2f", pixels * MM_PER_INCH / options.dpi) << " mm), print at 100 %\n";
            return;
        }
    }
    std::cout << options.output << ": " << what << " on a " << cv::format("%.1f", layout->width) << " x "
              << cv::format("%.1f", layout->height) << " mm page, print at 100 % (actual size)\n";
}

}  // namespace

void addMarkerCommand(CLI::App& app) {
    auto* command = app.add_subcommand("marker", "make a marker image or a printable marker sheet");
    auto options = std::make_shared<MarkerOptions>();
    options->name = "-";
    command->add_option("source", options->source, "a picture, a .patt pattern file, or a .board board file");
    command
        ->add_option("-o,--output", options->output,
                     "the file to write: .svg or .pdf (a printable sheet), .png or any image format")
        ->required();
    auto* pixels = command
                       ->add_option("--pixels", options->pixels,
                                    "without --size: width and height of the marker image (multiple of 4)")
                       ->capture_default_str();
    auto* size = command
                     ->add_option("--size", options->size,
                                  "a printable sheet with the marker (black border included) this many "
                                  "millimetres wide (default 80 for .svg and .pdf)")
                     ->check(positiveNumber(2000));
    auto* dpi = command->add_option("--dpi", options->dpi, "resolution of a .png sheet (default 300)")
                    ->check(positiveNumber(4800));
    pixels->excludes(size)->excludes(dpi);
    command->add_option("--name", options->name, "the caption's name (default: the source's file name)");
    auto* family = command->add_option("--family", options->family,
                                       "no source: a printed fiducial family's marker, one of " + familyNames());
    command->add_option("--id", options->id, "with --family: the marker's id in its family")->needs(family);
    command->callback([options] { makeMarker(*options); });
}

}  // namespace zelk::tool
