// zelk camera: writes, imports and prints camera parameter files with the plug-in's own
// record code, so the tool and the plug-in cannot disagree about the format.
//
// Our lens model is one radial term about a centre c, with a scale s:
//   observed = c + s u (1 - k s^2 |u|^2),  u = ideal - c,  in pixels (k stored x 1e8).
// An OpenCV calibration (k1 k2 p1 p2 k3 ..., in normalised coordinates) is mapped onto it
// by keeping OpenCV's camera matrix as our projection (so OpenCV's undistorted pixels are
// our ideal ones), putting c at the principal point and fitting s and k by least squares
// to OpenCV's own distortion over a grid covering the whole image. The residual, measured
// through the plug-in's own distortion code, is what is lost. Calibrating from chessboard
// images fits OpenCV's k1 alone, which maps onto our term exactly when fx = fy.
#include <cmath>
#include <cstdio>
#include <iostream>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"
#include "camera/camera_params.h"
#include "camera/distortion.h"

namespace zelk::tool {

void writeCameraFile(CameraParams record, const std::string& path) {
    byteSwapCameraParams(&record);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) fail("cannot write " + path);
    const bool written = std::fwrite(&record, sizeof record, 1, file) == 1;
    if (std::fclose(file) != 0 || !written) fail("cannot write " + path);
}

namespace {

constexpr double COEFFICIENT_UNIT = 1e8;  // the radial coefficient is stored x 1e8

// Prints the record as the plug-in does, then writes it.
void printAndWrite(const CameraParams& record, const std::string& path) {
    printCameraParams(&record);
    writeCameraFile(record, path);
}

// A pinhole camera record without distortion.
CameraParams pinhole(int width, int height, const double matrix[3][3]) {
    CameraParams record{};
    record.imageWidth = width;
    record.imageHeight = height;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) record.projection[r][c] = matrix[r][c];
    const double none[4] = {matrix[0][2], matrix[1][2], 0.0, 1.0};
    std::copy(none, none + 4, record.distortion);
    return record;
}

// "640x480" into width and height. False when it is not two positive whole numbers.
bool parseSize(const std::string& text, int* width, int* height) {
    char x = 0, rest = 0;
    return std::sscanf(text.c_str(), "%d%c%d%c", width, &x, height, &rest) == 3 && (x == 'x' || x == 'X') &&
           *width > 0 && *height > 0;
}

struct CameraOptions {
    std::string output, size;
    int width = 640, height = 480;
    double fx = 0, fy = 0, cx = -1, cy = -1;
    double radial = 0;
    std::vector<double> distortion;
};

void imageSize(const CameraOptions& options, int* width, int* height) {
    *width = options.width;
    *height = options.height;
    if (!options.size.empty() && !parseSize(options.size, width, height))
        fail("--size takes WIDTHxHEIGHT, e.g. 640x480, not " + options.size);
    if (*width <= 0 || *height <= 0) fail("--width and --height must be positive");
}

void writeCamera(const CameraOptions& options) {
    int width, height;
    imageSize(options, &width, &height);
    if (!(options.fx > 0) || !(options.fy > 0)) fail("--fx and --fy must be positive");
    const double cx = options.cx < 0 ? (width - 1) / 2.0 : options.cx;
    const double cy = options.cy < 0 ? (height - 1) / 2.0 : options.cy;
    const double matrix[3][3] = {{options.fx, 0, cx}, {0, options.fy, cy}, {0, 0, 1}};
    CameraParams record = pinhole(width, height, matrix);
    record.distortion[2] = options.radial;
    if (!options.distortion.empty()) std::copy(options.distortion.begin(), options.distortion.end(), record.distortion);
    if (!(record.distortion[3] != 0)) fail("the distortion scale must not be 0");
    printAndWrite(record, options.output);
}

void printCamera(const std::string& path) {
    const CameraParams record = checkCameraFile(path);
    printCameraParams(&record);
}

// ---- OpenCV calibrations ---------------------------------------------------------------

struct DistortionFit {
    double factors[4];
    double rms, largest;  // pixels
};

// Fits our radial term about the principal point to OpenCV's distortion over the image.
DistortionFit fitDistortion(const cv::Mat& matrix, const cv::Mat& coefficients, int width, int height) {
    // Observed points on a grid over the whole image, back to ideal pixels, then forward
    // again through OpenCV's exact model, so every pair is exact whatever the inversion did.
    constexpr int STEPS = 32;
    std::vector<cv::Point2d> grid;
    for (int j = 0; j <= STEPS; ++j)
        for (int i = 0; i <= STEPS; ++i)
            grid.emplace_back((width - 1) * i / double(STEPS), (height - 1) * j / double(STEPS));
    std::vector<cv::Point2d> normalised;
    cv::undistortPoints(grid, normalised, matrix, coefficients, cv::noArray(), cv::noArray(),
                        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-12));
    std::vector<cv::Point3d> rays;
    for (const cv::Point2d& p : normalised) rays.emplace_back(p.x, p.y, 1.0);
    std::vector<cv::Point2d> observed;
    cv::projectPoints(rays, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), matrix, coefficients, observed);

    const cv::Matx33d k = matrix;
    const double cx = k(0, 2), cy = k(1, 2);
    const double unit = std::hypot(width, height) / 2;  // keeps the two columns of like size
    std::vector<cv::Point2d> ideal;
    cv::Mat a(int(rays.size()) * 2, 2, CV_64F), b(int(rays.size()) * 2, 1, CV_64F);
    for (size_t n = 0; n < rays.size(); ++n) {
        const cv::Vec3d pixel = k * cv::Vec3d(rays[n].x, rays[n].y, 1.0);
        ideal.emplace_back(pixel[0] / pixel[2], pixel[1] / pixel[2]);
        const double ux = (ideal[n].x - cx) / unit, uy = (ideal[n].y - cy) / unit, r2 = ux * ux + uy * uy;
        const int row = int(n) * 2;
        a.at<double>(row, 0) = ux;
        a.at<double>(row, 1) = -r2 * ux;
        b.at<double>(row) = (observed[n].x - cx) / unit;
        a.at<double>(row + 1, 0) = uy;
        a.at<double>(row + 1, 1) = -r2 * uy;
        b.at<double>(row + 1) = (observed[n].y - cy) / unit;
    }
    cv::Mat solution;
    if (!cv::solve(a, b, solution, cv::DECOMP_SVD)) fail("the distortion cannot be fitted");
    const double scale = solution.at<double>(0), cubic = solution.at<double>(1) / (unit * unit);
    if (!(scale > 0) || !std::isfinite(cubic)) fail("the distortion cannot be fitted: it turns the image inside out");
    DistortionFit fit{{cx, cy, cubic / (scale * scale * scale) * COEFFICIENT_UNIT, scale}, 0, 0};

    double sum = 0;
    for (size_t n = 0; n < ideal.size(); ++n) {
        double ox, oy;
        if (idealToObserved(fit.factors, ideal[n].x, ideal[n].y, &ox, &oy) < 0) fail("the fitted distortion fails");
        const double error = std::hypot(ox - observed[n].x, oy - observed[n].y);
        sum += error * error;
        fit.largest = std::max(fit.largest, error);
    }
    fit.rms = std::sqrt(sum / double(ideal.size()));
    return fit;
}

// Writes an OpenCV camera as a camera file, saying how its distortion was mapped.
void writeFromOpenCv(const cv::Mat& matrix, const cv::Mat& coefficients, int width, int height,
                     const std::string& output) {
    const cv::Matx33d k = matrix;
    const int terms = coefficients.cols;
    const double rows[3][3] = {{k(0, 0), k(0, 1), k(0, 2)}, {k(1, 0), k(1, 1), k(1, 2)}, {k(2, 0), k(2, 1), k(2, 2)}};
    CameraParams record = pinhole(width, height, rows);
    const DistortionFit fit = fitDistortion(matrix, coefficients, width, height);
    std::copy(fit.factors, fit.factors + 4, record.distortion);

    static const char* const NAMES[] = {"k1", "k2", "p1", "p2", "k3", "k4", "k5",
                                        "k6", "s1", "s2", "s3", "s4", "tx", "ty"};
    std::cout << "OpenCV's distortion:";
    for (int i = 0; i < terms; ++i) std::cout << " " << NAMES[i] << " " << coefficients.at<double>(i);
    std::cout << "\nmapped onto one radial term about the principal point (" << fit.factors[0] << ", " << fit.factors[1]
              << "): coefficient " << fit.factors[2] << " (x 1e-8 per squared pixel), scale " << fit.factors[3] << "\n"
              << cv::format("the two models differ over the %d x %d image by %.3f px RMS, %.3f px at most\n", width,
                            height, fit.rms, fit.largest);
    if (fit.largest > 1.0)
        std::cout << "warning: this lens bends more than one radial term can follow; poses near the image's "
                     "edges will be off by up to that much\n";
    printAndWrite(record, output);
}

struct ImportOptions {
    std::string input, output, size;
};

void importCalibration(const ImportOptions& options) {
    refuseOverwriting(options.output, {options.input});
    cv::Mat matrix, coefficients;
    int width = 0, height = 0;
    try {
        cv::FileStorage file(options.input, cv::FileStorage::READ);
        if (!file.isOpened()) fail("cannot read the calibration " + options.input);
        file["camera_matrix"] >> matrix;
        file["distortion_coefficients"] >> coefficients;
        file["image_width"] >> width;
        file["image_height"] >> height;
    } catch (const cv::Exception&) {
        fail("cannot read the calibration " + options.input + ": not an OpenCV YAML or XML file");
    }
    if (!options.size.empty() && !parseSize(options.size, &width, &height))
        fail("--size takes WIDTHxHEIGHT, e.g. 640x480, not " + options.size);
    if (width <= 0 || height <= 0) fail(options.input + " has no image_width and image_height: give --size");
    if (matrix.empty() || matrix.rows != 3 || matrix.cols != 3) fail(options.input + " has no 3 x 3 camera_matrix");
    matrix.convertTo(matrix, CV_64F);
    const cv::Matx33d k = matrix;
    if (!(k(0, 0) > 0) || !(k(1, 1) > 0) || k(1, 0) != 0 || k(2, 0) != 0 || k(2, 1) != 0 || k(2, 2) != 1 ||
        !std::isfinite(k(0, 1)) || !std::isfinite(k(0, 2)) || !std::isfinite(k(1, 2)))
        fail(options.input + ": camera_matrix is not a camera matrix (fx, fy > 0, last row 0 0 1)");
    if (coefficients.empty()) coefficients = cv::Mat::zeros(1, 4, CV_64F);
    coefficients = coefficients.reshape(1, 1);
    coefficients.convertTo(coefficients, CV_64F);
    const int terms = coefficients.cols;
    if (terms != 4 && terms != 5 && terms != 8 && terms != 12 && terms != 14)
        fail(options.input + ": distortion_coefficients must hold 4, 5, 8, 12 or 14 numbers");
    if (!cv::checkRange(coefficients)) fail(options.input + ": distortion_coefficients must be finite");

    writeFromOpenCv(matrix, coefficients, width, height, options.output);
}

// ---- calibration from chessboard images ----------------------------------------------

struct CalibrateOptions {
    std::vector<std::string> images;
    std::string output, board = "9x6", yaml;
    double square = 25;
};

// Calibrates with k1 alone (no k2, k3 or tangential terms): the model our single radial
// term holds exactly when fx = fy, so that little is lost in the mapping.
void calibrate(const CalibrateOptions& options) {
    refuseOverwriting(options.output, options.images);
    refuseOverwriting(options.yaml, options.images);
    int columns, rows;
    if (!parseSize(options.board, &columns, &rows) || columns < 2 || rows < 2)
        fail("--board takes the inner corners as COLUMNSxROWS, e.g. 9x6, not " + options.board);
    if (!(options.square > 0)) fail("--square must be positive");
    std::vector<cv::Point3f> board;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) board.emplace_back(float(c * options.square), float(r * options.square), 0.f);
    std::vector<std::vector<cv::Point3f>> objectPoints;
    std::vector<std::vector<cv::Point2f>> imagePoints;
    cv::Size size;
    for (const std::string& path : options.images) {
        const cv::Mat image = readPicture(path, cv::IMREAD_GRAYSCALE);
        if (image.empty()) fail("cannot read the picture " + path);
        if (size.empty()) size = image.size();
        if (image.size() != size) fail(path + " is not the size of the first image");
        std::vector<cv::Point2f> corners;
        const bool found = cv::findChessboardCorners(image, cv::Size(columns, rows), corners,
                                                     cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE);
        std::cout << path << ": " << (found ? "board found" : "no board") << "\n";
        if (!found) continue;
        cv::cornerSubPix(image, corners, cv::Size(11, 11), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, 50, 0.001));
        objectPoints.push_back(board);
        imagePoints.push_back(corners);
    }
    if (imagePoints.size() < 3)
        fail("the board was found in " + std::to_string(imagePoints.size()) + " images; at least 3 are needed");
    cv::Mat matrix, coefficients;
    std::vector<cv::Mat> rotations, translations;
    const double rms =
        cv::calibrateCamera(objectPoints, imagePoints, size, matrix, coefficients, rotations, translations,
                            cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3);
    std::cout << cv::format("calibrated from %zu of %zu images: reprojection error %.3f px RMS\n", imagePoints.size(),
                            options.images.size(), rms);
    if (!options.yaml.empty()) {
        cv::FileStorage file(options.yaml, cv::FileStorage::WRITE);
        if (!file.isOpened()) fail("cannot write " + options.yaml);
        file << "image_width" << size.width << "image_height" << size.height << "camera_matrix" << matrix
             << "distortion_coefficients" << coefficients << "avg_reprojection_error" << rms;
    }
    writeFromOpenCv(matrix, coefficients, size.width, size.height, options.output);
}

}  // namespace

void addCameraCommand(CLI::App& app) {
    auto* command = app.add_subcommand("camera", "write, import or print a camera parameter file");
    command->require_subcommand(1);

    auto* write = command->add_subcommand("write", "write a pinhole camera with one radial distortion term");
    auto options = std::make_shared<CameraOptions>();
    write->add_option("-o,--output", options->output, "the camera file to write")->required();
    auto* size = write->add_option("--size", options->size, "image size as WIDTHxHEIGHT (default 640x480)");
    write->add_option("--width", options->width, "image width in pixels")->excludes(size);
    write->add_option("--height", options->height, "image height in pixels")->excludes(size);
    write->add_option("--fx", options->fx, "focal length in pixels along x")->required();
    write->add_option("--fy", options->fy, "focal length in pixels along y (default: fx)");
    write->add_option("--cx", options->cx, "principal point x (default: the image centre)");
    write->add_option("--cy", options->cy, "principal point y (default: the image centre)");
    auto* radial = write->add_option("--radial", options->radial,
                                     "radial coefficient x 1e8 about the principal point (default 0: none)");
    write
        ->add_option("--distortion", options->distortion,
                     "all four distortion factors: centre x, centre y, radial coefficient x 1e8, scale")
        ->expected(4)
        ->excludes(radial);
    write->callback([options] {
        if (options->fy == 0) options->fy = options->fx;
        writeCamera(*options);
    });

    auto* importing = command->add_subcommand("import", "convert an OpenCV calibration (YAML or XML) to a camera file");
    auto imported = std::make_shared<ImportOptions>();
    importing
        ->add_option("calibration", imported->input,
                     "the calibration: camera_matrix, distortion_coefficients, image_width, image_height")
        ->required();
    importing->add_option("-o,--output", imported->output, "the camera file to write")->required();
    importing->add_option("--size", imported->size, "image size as WIDTHxHEIGHT, when the calibration lacks it");
    importing->callback([imported] { importCalibration(*imported); });

    auto* calibration = command->add_subcommand("calibrate", "calibrate a camera from chessboard images");
    auto calibrated = std::make_shared<CalibrateOptions>();
    calibration->add_option("images", calibrated->images, "pictures of a chessboard, seen from many sides")->required();
    calibration->add_option("-o,--output", calibrated->output, "the camera file to write")->required();
    calibration->add_option("--board", calibrated->board, "inner corners of the board, COLUMNSxROWS")
        ->capture_default_str();
    calibration->add_option("--square", calibrated->square, "side of a square (any unit)")->capture_default_str();
    calibration->add_option("--yaml", calibrated->yaml, "also write OpenCV's calibration to this file");
    calibration->callback([calibrated] { calibrate(*calibrated); });

    auto* print = command->add_subcommand("print", "print a camera file as the plug-in prints it");
    auto path = std::make_shared<std::string>();
    print->add_option("file", *path, "the camera file")->required();
    print->callback([path] { printCamera(*path); });
}

}  // namespace zelk::tool
