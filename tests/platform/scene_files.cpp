#include "tests/platform/scene_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/camera_file.h"
#include "tests/support/paths.h"

const unsigned char QUADRANT_COLOURS[4][3] = {{0, 0, 230}, {0, 200, 0}, {210, 0, 0}, {0, 220, 220}};

Picture quadrantPicture() {
    Picture picture;
    for (int row = 0; row < 16; ++row)
        for (int column = 0; column < 16; ++column) {
            const int corner = row < 8 ? (column < 8 ? 0 : 1) : (column < 8 ? 3 : 2);
            for (int plane = 0; plane < 3; ++plane) picture.bgr[row][column][plane] = QUADRANT_COLOURS[corner][plane];
        }
    return picture;
}

Picture plainPicture(unsigned char grey) {
    Picture picture;
    for (auto& row : picture.bgr)
        for (auto& pixel : row)
            for (auto& value : pixel) value = grey;
    return picture;
}

std::string scratchFolder(const std::string& name) {
    const std::string path = scratchPath(name);
    mkdir(path.c_str(), 0755);
    return path;
}

void writePatternFile(const std::string& path, const Picture& picture) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    for (int turns = 0; turns < 4; ++turns) {
        for (int plane = 0; plane < 3; ++plane)
            for (int row = 0; row < 16; ++row) {
                for (int column = 0; column < 16; ++column) {
                    // A counter-clockwise quarter turn moves (r, c) to (15 - c, r).
                    int r = row, c = column;
                    for (int t = 0; t < turns; ++t) {
                        const int previous = r;
                        r = c;
                        c = 15 - previous;
                    }
                    std::fprintf(file, " %3d", picture.bgr[r][c][plane]);
                }
                std::fprintf(file, "\n");
            }
        std::fprintf(file, "\n");
    }
    std::fclose(file);
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

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
