// The camera model record, its file and its printout.
#pragma once
#include <cstdint>

namespace zelk {

struct CameraParams {
    int32_t imageWidth;
    int32_t imageHeight;
    double projection[3][4];
    double distortion[4];  // centre x, centre y, radial coefficient x 1e8, scale
};
static_assert(sizeof(CameraParams) == 136, "the record is stored byte for byte");

// Reads the first count records of a big-endian file into the record pointers that follow. 0 or -1.
int loadCameraParams(const char* path, int count, CameraParams* record, ...);
// Converts a record in place between file and host byte order.
void byteSwapCameraParams(CameraParams* record);
// Copies 4 / 8 bytes in reverse order.
void reverseBytes32(const void* source, void* destination);
void reverseBytes64(const void* source, void* destination);
// A distortion-free pinhole camera of the given focal length, centred on the image.
CameraParams pinholeCamera(int32_t width, int32_t height, double focal);
// Prints the record to standard output. Returns 0.
int printCameraParams(const CameraParams* record);

}  // namespace zelk
