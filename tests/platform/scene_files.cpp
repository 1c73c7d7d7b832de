#include "tests/platform/scene_files.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "tests/support/camera_file.h"
#include "tests/support/paths.h"

const unsigned char QUADRANT_COLOURS[4][3] = {{0, 0, 230}, {0, 200, 0}, {210, 0, 0}, {0, 220, 220}};

PatternPicture quadrantPicture() {
    PatternPicture picture;
    for (int row = 0; row < 16; ++row)
        for (int column = 0; column < 16; ++column) {
            const int corner = row < 8 ? (column < 8 ? 0 : 1) : (column < 8 ? 3 : 2);
            for (int plane = 0; plane < 3; ++plane) picture.value[row][column][plane] = QUADRANT_COLOURS[corner][plane];
        }
    return picture;
}

PatternPicture plainPicture(unsigned char grey) {
    PatternPicture picture;
    for (auto& row : picture.value)
        for (auto& pixel : row)
            for (auto& value : pixel) value = grey;
    return picture;
}

std::string scratchFolder(const std::string& name) {
    const std::string path = scratchPath(name);
    mkdir(path.c_str(), 0755);
    return path;
}

zelk::CameraParams testCamera(double distortionCoefficient) {
    zelk::CameraParams camera{};
    camera.imageWidth = 640;
    camera.imageHeight = 480;
    camera.projection[0][0] = 700;
    camera.projection[0][2] = 319.5;
    camera.projection[1][1] = 700;
    camera.projection[1][2] = 239.5;
    camera.projection[2][2] = 1;
    camera.distortion[0] = 319.5;
    camera.distortion[1] = 239.5;
    camera.distortion[2] = distortionCoefficient;
    camera.distortion[3] = 1.0;
    return camera;
}

void writeCameraFile(const std::string& path, const zelk::CameraParams& camera) {
    writeBytes(path, cameraFileBytes({camera}));
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
