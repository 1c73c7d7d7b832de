// zelk marker: a marker to print, or to use as a synthetic scene's marker image.
//
// A marker is a black square whose outer quarter of the width, on every side, is black;
// the picture fills the inner half. A printed fiducial family's marker instead fills the
// whole square with its cells, its border one cell wide. Without a physical size the output is that square
// alone, N x N pixels. With one (always for SVG and PDF) it is a sheet: the marker at
// exactly the size asked for, a white gap, a thin grey cut line, and the name and size in
// small print inside the cut line, below the marker. SVG sheets measure in millimetres,
// PDF pages in points (72 to the inch), and PNG sheets carry their resolution (pHYs) so
// that a printer at 100 % reproduces the size.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/arguments.h"
#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"
#include "apps/zelk/fiducial_family.h"
#include "platform/videocapture/render/synthetic_scene.h"

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

// Sheet geometry in millimetres, origin at the top-left of the page.
struct Sheet {
    double size;     // the black square, border included
    double gap;      // white between the black square and the cut line
    double page;     // width and height of the page
    double marker;   // left and top of the black square
    double cut;      // left and top of the cut line's centre line
    double caption;  // baseline of the caption
    std::string text;
};

Sheet sheetFor(double size, const std::string& name) {
    Sheet sheet;
    sheet.size = size;
    sheet.gap = std::max(size / 8, 6.0);
    sheet.cut = PAGE_MARGIN_MM;
    sheet.marker = sheet.cut + sheet.gap;
    sheet.page = size + 2 * (sheet.gap + PAGE_MARGIN_MM);
    sheet.caption = sheet.marker + size + 1.5 + CAPTION_MM * 0.75;
    std::ostringstream text;
    text << name << (name.empty() ? "" : "  ") << size << " mm";
    sheet.text = text.str();
    return sheet;
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

std::string pngSheet(const Face& face, const Sheet& sheet, double dpi) {
    auto px = [dpi](double mm) { return static_cast<int>(std::lround(mm / MM_PER_INCH * dpi)); };
    const int side = px(sheet.page);
    if (static_cast<double>(side) * side > 400e6) fail("the sheet would be larger than 400 million pixels");
    cv::Mat image(side, side, CV_8UC3, cv::Scalar(255, 255, 255));
    const int cut = px(sheet.cut), cutSide = px(sheet.size + 2 * sheet.gap);
    cv::rectangle(image, cv::Rect(cut, cut, cutSide, cutSide), CUT_LINE_GREY, std::max(1, px(CUT_LINE_MM)));
    drawMarker(face, image, px(sheet.marker), px(sheet.marker), px(sheet.size));
    const double unitHeight = cv::getTextSize("Mm", cv::FONT_HERSHEY_SIMPLEX, 1.0, 1, nullptr).height;
    const double scale = CAPTION_MM * 0.7 / MM_PER_INCH * dpi / unitHeight;  // cap height of the font size
    cv::putText(image, sheet.text, cv::Point(px(sheet.marker), px(sheet.caption)), cv::FONT_HERSHEY_SIMPLEX, scale,
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

std::string svgSheet(const Face& face, const Sheet& sheet) {
    std::vector<unsigned char> png;
    if (!encodePicture(".png", embeddedPicture(face.picture), &png)) fail("cannot encode the picture");
    const cv::Rect2d inner = face.place(sheet.marker, sheet.marker, sheet.size);
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\""
        << number(sheet.page) << "mm\" height=\"" << number(sheet.page) << "mm\" viewBox=\"0 0 " << number(sheet.page)
        << " " << number(sheet.page) << "\">\n"
        << "  <rect x=\"0\" y=\"0\" width=\"" << number(sheet.page) << "\" height=\"" << number(sheet.page)
        << "\" fill=\"#ffffff\"/>\n"
        << "  <rect id=\"cut\" x=\"" << number(sheet.cut) << "\" y=\"" << number(sheet.cut) << "\" width=\""
        << number(sheet.size + 2 * sheet.gap) << "\" height=\"" << number(sheet.size + 2 * sheet.gap)
        << "\" fill=\"none\" stroke=\"#969696\" stroke-width=\"" << number(CUT_LINE_MM) << "\"/>\n"
        << "  <rect id=\"marker\" x=\"" << number(sheet.marker) << "\" y=\"" << number(sheet.marker) << "\" width=\""
        << number(sheet.size) << "\" height=\"" << number(sheet.size)
        << "\" fill=\"#000000\" shape-rendering=\"crispEdges\"/>\n"
        << "  <image x=\"" << number(inner.x) << "\" y=\"" << number(inner.y) << "\" width=\"" << number(inner.width)
        << "\" height=\"" << number(inner.height)
        << "\" preserveAspectRatio=\"none\" image-rendering=\"optimizeSpeed\" style=\"image-rendering:pixelated\" "
        << "xlink:href=\"data:image/png;base64," << base64(png) << "\"/>\n"
        << "  <text x=\"" << number(sheet.marker) << "\" y=\"" << number(sheet.caption)
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

std::string pdfSheet(const Face& face, const Sheet& sheet) {
    const double pt = POINTS_PER_INCH / MM_PER_INCH;
    const double pageHeight = sheet.page * pt;
    auto x = [&](double mm) { return number(mm * pt); };
    auto y = [&](double mm) { return number(pageHeight - mm * pt); };  // PDF's y runs up
    const cv::Mat image = embeddedPicture(face.picture);
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
    const cv::Rect2d inner = face.place(sheet.marker, sheet.marker, sheet.size);
    const double cutSide = sheet.size + 2 * sheet.gap;
    std::ostringstream content;
    content << "0.588 G " << number(CUT_LINE_MM * pt) << " w\n"
            << x(sheet.cut) << " " << y(sheet.cut + cutSide) << " " << x(cutSide) << " " << x(cutSide) << " re S\n"
            << "0 g\n"
            << x(sheet.marker) << " " << y(sheet.marker + sheet.size) << " " << x(sheet.size) << " " << x(sheet.size)
            << " re f\n"
            << "q " << x(inner.width) << " 0 0 " << x(inner.height) << " " << x(inner.x) << " "
            << y(inner.y + inner.height) << " cm /Picture Do Q\n"
            << "BT /Caption " << x(CAPTION_MM) << " Tf " << x(sheet.marker) << " " << y(sheet.caption) << " Td "
            << pdfString(sheet.text) << " Tj ET\n";
    const std::string stream = content.str();

    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + x(sheet.page) + " " + number(pageHeight) +
            "] /Resources << /Font << /Caption 5 0 R >> /XObject << /Picture 6 0 R >> >> /Contents 4 0 R >>",
        "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /XObject /Subtype /Image /Width " + std::to_string(image.cols) + " /Height " +
            std::to_string(image.rows) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Interpolate false /Length " +
            std::to_string(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream",
    };
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

void makeMarker(MarkerOptions options) {
    refuseOverwriting(options.output, {options.source});
    std::string extension = fs::path(options.output).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool vector = extension == ".svg" || extension == ".pdf";
    const bool sheet = vector || options.size > 0 || options.dpi > 0;
    if (sheet && !vector && extension != ".png") fail("a printable sheet is written as .png, .svg or .pdf");
    if (sheet && options.size == 0) options.size = 80;
    if (sheet && options.dpi == 0) options.dpi = 300;
    if (!sheet && (options.pixels < 32 || options.pixels % 4 != 0))
        fail("--pixels must be a multiple of 4, at least 32");

    if (options.source.empty() == options.family.empty()) fail("give either a picture or pattern file, or --family");
    Face face;
    face.whole = !options.family.empty();
    if (face.whole) {
        cv::cvtColor(familyCells(options.family, options.id), face.picture, cv::COLOR_GRAY2BGR);
        options.source = options.family + " id " + std::to_string(options.id);
    } else {
        face.picture = isPatternFile(options.source) ? patternPicture(options.source)
                                                     : readPicture(options.source, cv::IMREAD_COLOR);
        if (face.picture.empty()) fail("cannot read the picture " + options.source);
    }
    if (!sheet) {
        if (!canWritePicture(options.output)) fail("cannot write " + options.output + ": unknown image format");
        cv::Mat marker(options.pixels, options.pixels, CV_8UC3);
        drawMarker(face, marker, 0, 0, options.pixels);
        if (!writePicture(options.output, marker)) fail("cannot write " + options.output);
        std::cout << options.output << ": " << options.pixels << " x " << options.pixels << " marker from "
                  << options.source << "\n";
        return;
    }
    const std::string name = options.name != "-" ? options.name
                             : face.whole        ? options.source
                                                 : fs::path(options.source).stem().string();
    const Sheet layout = sheetFor(options.size, name);
    if (extension == ".svg") {
        writeBytes(options.output, svgSheet(face, layout));
    } else if (extension == ".pdf") {
        writeBytes(options.output, pdfSheet(face, layout));
    } else {
        writeBytes(options.output, pngSheet(face, layout, options.dpi));
        const long pixels = std::lround(options.size / MM_PER_INCH * options.dpi);
        std::cout << options.output << ": " << options.size << " mm marker, " << pixels << " pixels at " << options.dpi
                  << " dpi (" << cv::format("%.2f", pixels * MM_PER_INCH / options.dpi) << " mm), print at 100 %\n";
        return;
    }
    std::cout << options.output << ": " << options.size << " mm marker on a " << cv::format("%.1f", layout.page)
              << " x " << cv::format("%.1f", layout.page) << " mm page, print at 100 % (actual size)\n";
}

}  // namespace

void addMarkerCommand(CLI::App& app) {
    auto* command = app.add_subcommand("marker", "make a marker image or a printable marker sheet");
    auto options = std::make_shared<MarkerOptions>();
    options->name = "-";
    command->add_option("source", options->source, "a picture, or a .patt pattern file");
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
