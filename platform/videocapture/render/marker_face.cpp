// Printed marker faces from pattern files and marker pictures.
#include <cstdio>

#include "platform/videocapture/render/synthetic_scene.h"

namespace zelk::synth {

// The picture fills the inner half; the outer quarter on every side is black.
MarkerFace patternFace(const unsigned char picture[16][16][3]) {
    MarkerFace face;
    face.size = 32;
    face.bgr.assign(32 * 32 * 3, 0);
    for (int row = 0; row < 16; ++row)
        for (int column = 0; column < 16; ++column)
            for (int plane = 0; plane < 3; ++plane)
                face.bgr[((row + 8) * 32 + column + 8) * 3 + plane] = picture[row][column][plane];
    return face;
}

bool loadPatternFace(const std::string& path, MarkerFace* face, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        *error = "cannot open pattern file \"" + path + "\"";
        return false;
    }
    // Orientation 0 comes first: plane by plane, rows top to bottom.
    unsigned char picture[16][16][3];
    bool good = true;
    for (int plane = 0; plane < 3 && good; ++plane)
        for (int row = 0; row < 16 && good; ++row)
            for (int column = 0; column < 16 && good; ++column) {
                int value;
                good = std::fscanf(file, "%d", &value) == 1 && value >= 0 && value <= 255;
                picture[row][column][plane] = static_cast<unsigned char>(good ? value : 0);
            }
    std::fclose(file);
    if (!good) {
        *error = "pattern file \"" + path + "\" does not start with 768 values 0-255";
        return false;
    }
    *face = patternFace(picture);
    return true;
}

bool loadImageFace(const std::string& path, MarkerFace* face, std::string* error) {
#ifdef ZELK_WITH_OPENCV
    cv::Mat image = readMarkerPicture(path);
    if (image.empty()) {
        *error = "cannot read marker picture \"" + path + "\"";
        return false;
    }
    if (image.cols != image.rows || !image.isContinuous()) {
        *error = "marker picture \"" + path + "\" is not square";
        return false;
    }
    const int size = image.cols;
    face->size = size;
    face->bgr.assign(image.data, image.data + static_cast<std::size_t>(size) * size * 3);
    return true;
#else
    *error = "marker pictures need OpenCV: \"" + path + "\"";
    (void)face;
    return false;
#endif
}

}  // namespace zelk::synth
