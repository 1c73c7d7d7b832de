// The camera model record: its big-endian file and the printout.
//
// Files store each field with its bytes reversed relative to the little-endian host.
// The loader checks only what it must to stay safe (a count below 1, a missing path or
// record pointer, a short file); the values themselves are taken as they are.
#include "camera/camera_params.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the camera file conversion assumes a little-endian host"
#endif

namespace zelk {

// Reads one record and converts it; false on a short read (the record then stays unconverted).
static bool readCameraRecord(std::FILE* file, CameraParams* record) {
    if (!record || std::fread(record, 1, sizeof(CameraParams), file) != sizeof(CameraParams)) return false;
    byteSwapCameraParams(record);
    return true;
}

int loadCameraParams(const char* path, int count, CameraParams* record, ...) {
    if (count < 1 || !path) return -1;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return -1;
    bool ok = readCameraRecord(file, record);
    std::va_list more;
    va_start(more, record);
    for (int i = 1; ok && i < count; ++i) ok = readCameraRecord(file, va_arg(more, CameraParams*));
    va_end(more);
    std::fclose(file);
    return ok ? 0 : -1;
}

void byteSwapCameraParams(CameraParams* record) {
    CameraParams swapped;
    reverseBytes32(&record->imageWidth, &swapped.imageWidth);
    reverseBytes32(&record->imageHeight, &swapped.imageHeight);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c) reverseBytes64(&record->projection[r][c], &swapped.projection[r][c]);
    for (int i = 0; i < 4; ++i) reverseBytes64(&record->distortion[i], &swapped.distortion[i]);
    *record = swapped;
}

static void reverseBytes(const void* source, void* destination, int size) {
    const unsigned char* from = static_cast<const unsigned char*>(source);
    unsigned char* to = static_cast<unsigned char*>(destination);
    for (int i = 0; i < size; ++i) to[i] = from[size - 1 - i];
}

void reverseBytes32(const void* source, void* destination) { reverseBytes(source, destination, 4); }
void reverseBytes64(const void* source, void* destination) { reverseBytes(source, destination, 8); }

CameraParams pinholeCamera(int32_t width, int32_t height, double focal) {
    CameraParams camera{};
    camera.imageWidth = width;
    camera.imageHeight = height;
    camera.projection[0][0] = focal;
    camera.projection[0][2] = (width - 1) / 2.0;
    camera.projection[1][1] = focal;
    camera.projection[1][2] = (height - 1) / 2.0;
    camera.projection[2][2] = 1.0;
    camera.distortion[0] = (width - 1) / 2.0;
    camera.distortion[1] = (height - 1) / 2.0;
    camera.distortion[3] = 1.0;  // radial coefficient 0: ideal and observed points agree
    return camera;
}

int printCameraParams(const CameraParams* record) {
    std::printf("--------------------------------------\n");
    std::printf("SIZE = %d, %d\n", record->imageWidth, record->imageHeight);
    std::printf("Distortion factor = %f %f %f %f\n", record->distortion[0], record->distortion[1],
                record->distortion[2], record->distortion[3]);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) std::printf("%7.5f ", record->projection[r][c]);
        std::printf("\n");
    }
    std::printf("--------------------------------------\n");
    return 0;
}

}  // namespace zelk
