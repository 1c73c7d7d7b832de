// The host engine stand-in: its records, its function look-up, the two host functions
// the plug-in calls, and a Direct3D 9 texture over a plain BGRA buffer.
//
// Records. The host's records are opaque except for one pointer-sized word each, at
// the host's own byte offsets: HostString characters at 12, HostBitmap texture at 36,
// HostInterface look-up at 2608. On a 64-bit build the words are 8 bytes wide at the
// same offsets. The words are written with memcpy, never through a struct member.
//
// Angles. The host's world is right-handed: x forward, y left, z up. A HostAngle
// (pan, tilt, roll) holds degrees x 1024 and stands for the orientation matrix
//     M(pan, tilt, roll) = Rz(pan) * Rx(-roll) * Ry(-tilt)
// where Ra(t) is the right-handed rotation by t about axis a. So positive pan turns
// left (counter-clockwise seen from above), positive tilt lifts the nose (x toward +z),
// and positive roll lowers the left side. This is the convention in which the
// plug-in's Euler angles of a marker pose reproduce the marker's rotation in host
// coordinates (camera x right, y down, z forward map to host -y, -z, x).
// ang_rotate(angle, rotation) applies the rotation in the angle's own frame:
//     M(angle') = M(angle) * M(rotation)
// and writes back canonical angles: pan, tilt in (-180, 180], roll in [-90, 90],
// rounded to the nearest 1/1024 degree (tilt 0 when roll is +-90).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "platform/d3d9.h"
#include "plugin/exports.h"

namespace zelk::host {

constexpr std::size_t STRING_CHARS_OFFSET = 12;
constexpr std::size_t BITMAP_TEXTURE_OFFSET = 36;
constexpr std::size_t INTERFACE_LOOKUP_OFFSET = 2608;

}  // namespace zelk::host

struct alignas(void*) HostString {
    unsigned char bytes[zelk::host::STRING_CHARS_OFFSET + sizeof(void*)];
};
struct alignas(void*) HostBitmap {
    unsigned char bytes[zelk::host::BITMAP_TEXTURE_OFFSET + sizeof(void*)];
};
struct alignas(void*) HostInterface {
    unsigned char bytes[zelk::host::INTERFACE_LOOKUP_OFFSET + sizeof(void*)];
};

namespace zelk::host {

typedef void* (*LookupFunction)(const char* name);

// The host's look-up: a distinct non-null address per known name, null for others.
void* lookup(const char* name);
// Every name handed to lookup since the last clearLog, in call order.
const std::vector<std::string>& lookupLog();
// Names of the host functions other than _chr and ang_rotate called through their addresses.
const std::vector<std::string>& genericCallLog();
// Empties both logs.
void clearLog();
// The host's interface record, with the look-up word filled in.
HostInterface* interfaceRecord();

// _chr: the characters of a host string.
const char* chr(HostString* string);
// ang_rotate: rotates angle in place by rotation (see above); returns the angle's components.
HostFixed* angRotate(HostAngle* angle, HostAngle* rotation);
// The orientation matrix of an angle record (row-major).
void angleToMatrix(const HostAngle& angle, double matrix[3][3]);
// The canonical angle record of an orientation matrix.
HostAngle matrixToAngle(const double matrix[3][3]);

// Record builders. The characters and the texture are referenced, not copied.
HostString makeString(const char* chars);
HostBitmap makeBitmap(IDirect3DTexture9* texture);
HostVector makeVector(double x, double y, double z);
HostAngle makeAngle(double panDegrees, double tiltDegrees, double rollDegrees);

// A one-level texture over a BGRA buffer with a row pitch of at least 4 x width bytes.
class Texture final : public TextureStandIn {
public:
    Texture(int width, int height, int pitch, unsigned char fill = 0);
    HRESULT D3D_METHOD GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT D3D_METHOD LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) override;
    HRESULT D3D_METHOD UnlockRect(UINT level) override;

    int width, height, pitch;
    std::vector<unsigned char> buffer;  // pitch x height bytes
    bool failLock = false;              // LockRect answers D3DERR_INVALIDCALL
    bool locked = false;
    int lockCount = 0;  // successful locks
    int unlockCount = 0;
    DWORD lastLockFlags = 0;
    // The texel at column x, row y.
    unsigned char* texel(int x, int y) { return &buffer[static_cast<std::size_t>(y) * pitch + x * 4]; }
};

}  // namespace zelk::host
