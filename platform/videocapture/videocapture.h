// The video capture library the plug-in imports. Frames are BGRA
// (byte 0 blue, byte 3 unused), width x height x 4 bytes, no row padding.
#pragma once

#if defined(_WIN32) && defined(ZELK_BUILDING_VIDEO)
#define VIDEO_API extern "C" __declspec(dllexport)
#elif defined(_WIN32)
// Not dllimport: calls go through the import library's stubs, so the unit tests can link a
// static stand-in of the library instead.
#define VIDEO_API extern "C"
#else
#define VIDEO_API extern "C" __attribute__((visibility("default")))
#endif

// Opens the source described by the XML configuration file; < 0 on failure.
VIDEO_API int videoOpen(const char* config);
// Writes the frame size in pixels; < 0 when no device is open.
VIDEO_API int videoInqSize(int* width, int* height);
// Starts capture.
VIDEO_API int videoCapStart(void);
// The newest frame, or null when no new frame is ready (or the source ended).
// The buffer stays readable until the next videoGetImage or videoClose.
VIDEO_API unsigned char* videoGetImage(void);
// Hands the frame back and lets capture go on.
VIDEO_API int videoCapNext(void);
// Stops capture.
VIDEO_API int videoCapStop(void);
// Closes the device; 0 on success, < 0 when nothing was open.
VIDEO_API int videoClose(void);
// 1 when a recorded source has delivered its last frame and does not loop.
VIDEO_API int videoAtEnd(void);
// 1 when the open source's frames are pictures of their own (<images still="true">).
VIDEO_API int videoStill(void);
