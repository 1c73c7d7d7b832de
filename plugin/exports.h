// The plug-in's exported interface, as the host engine sees it.
// Every export is extern "C" with an undecorated name; nothing else is visible.
#pragma once
#include <cstdint>

#if defined(_WIN32)
#define ZELK_API extern "C" __declspec(dllexport)
#else
#define ZELK_API extern "C" __attribute__((visibility("default")))
#endif

// The host's number: value x 1024 in a signed 32-bit integer.
typedef int32_t HostFixed;

// Host records. The plug-in reads only a few words of the opaque ones,
// through plugin/host_records.h; the host defines their full layout.
struct HostInterface;
struct HostString;
struct HostBitmap;
struct HostVector {
    HostFixed x, y, z;
};
// Angle components 0, 1, 2 in degrees; their meaning is the host's.
struct HostAngle {
    HostFixed pan, tilt, roll;
};

ZELK_API int32_t A6_DLLAPI(HostInterface* record);
ZELK_API int32_t Zelk_Init(HostString* videoConfig, HostString* cameraFile);
ZELK_API int32_t Zelk_Update(int32_t threshold);
ZELK_API int32_t Zelk_Quit(void);
ZELK_API int32_t Zelk_getWidth(void);
ZELK_API int32_t Zelk_getHeight(void);
ZELK_API int32_t Zelk_getMarker(int32_t patternId, HostVector* position, HostAngle* angles, int32_t invert);
ZELK_API void Zelk_getBmap(HostBitmap* bitmap);
ZELK_API int32_t Zelk_registerMarker(HostString* path);
ZELK_API int32_t Zelk_freeMarker(int32_t patternId);
