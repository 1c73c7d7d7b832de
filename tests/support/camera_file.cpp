#include "tests/support/camera_file.h"

#include <cstdint>
#include <cstring>
#include <fstream>

zelk::CameraParams sampleCamera() {
    zelk::CameraParams camera{};
    camera.imageWidth = 640;
    camera.imageHeight = 480;
    const double projection[3][4] = {{700.5, 0.25, 318.75, 1.5}, {0.0, 702.125, 241.5, -2.5}, {0.0, 0.0, 1.0, 0.0}};
    std::memcpy(camera.projection, projection, sizeof projection);
    const double distortion[4] = {320.5, 239.25, -12.75, 0.998};
    std::memcpy(camera.distortion, distortion, sizeof distortion);
    return camera;
}

namespace {
void putBigEndian(std::vector<unsigned char>& bytes, uint64_t value, int size) {
    for (int i = size - 1; i >= 0; --i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void putDouble(std::vector<unsigned char>& bytes, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    putBigEndian(bytes, bits, 8);
}
}  // namespace

std::vector<unsigned char> cameraFileBytes(const std::vector<zelk::CameraParams>& records) {
    std::vector<unsigned char> bytes;
    for (const zelk::CameraParams& record : records) {
        putBigEndian(bytes, static_cast<uint32_t>(record.imageWidth), 4);
        putBigEndian(bytes, static_cast<uint32_t>(record.imageHeight), 4);
        for (const auto& row : record.projection)
            for (double value : row) putDouble(bytes, value);
        for (double value : record.distortion) putDouble(bytes, value);
    }
    return bytes;
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool sameCamera(const zelk::CameraParams& a, const zelk::CameraParams& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
