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

// Extensions, for hosts and tools that want more than the host's contract. Each returns 0,
// -1 for a null pointer (nothing written) or -2 when there is nothing to report (nothing
// written): an index outside the marker list, no pose behind the last query, no camera yet.
// Poses are 3 x 4 camera-from-marker transforms, row by row, in the unit of a marker 80 wide.

// One entry of the marker list. Corners and edge lines are ideal (undistorted) coordinates;
// the centre is the region's centroid in the picture (observed coordinates).
struct ZelkMarkerInfo {
    int32_t patternId;  // -1 when nothing matched
    int32_t direction;  // -1 when nothing matched
    int32_t area;       // pixels
    double confidence;
    double centre[2];
    double corners[4][2];
};

// The names of the extensions, for export-table checks.
#define ZELK_EXTENSION_EXPORTS                                                                               \
    "Zelk_getMarkerCount", "Zelk_getMarkerInfo", "Zelk_getMarkerCarriedOver", "Zelk_getMarkerPose",          \
        "Zelk_getLastPose", "Zelk_getCamera", "Zelk_resetHistory", "Zelk_setPrecise", "Zelk_setSmoothing",   \
        "Zelk_getReprojectionError", "Zelk_setMarkerWidth", "Zelk_getMarkerCopyCount", "Zelk_getMarkerCopy", \
        "Zelk_getMarkerEvent", "Zelk_getFieldOfView", "Zelk_getCaptureState", "Zelk_setAutoThreshold",       \
        "Zelk_registerBoard", "Zelk_freeBoard", "Zelk_getBoard", "Zelk_getBoardMarkerCount"

// The number of markers in the last detected frame's list (0 before the first).
ZELK_API int32_t Zelk_getMarkerCount(void);
// Entry index of that list, in order, carried-over markers included.
ZELK_API int32_t Zelk_getMarkerInfo(int32_t index, ZelkMarkerInfo* info);
// Whether entry index was found in this frame (0) or is a copy the marker history carried
// over from where it was last found, 1 or 2 frames back (a separate call, so that
// ZelkMarkerInfo keeps the size hosts were built with).
ZELK_API int32_t Zelk_getMarkerCarriedOver(int32_t index, int32_t* frames);
// The pose of entry index and its fit error (mean squared pixels); -2 also for an
// unidentified marker and when no pose can be estimated.
ZELK_API int32_t Zelk_getMarkerPose(int32_t index, double matrix[12], double* fitError);
// The pose behind the last Zelk_getMarker that returned 0 (inverted if it was asked to
// invert) and its fit error (mean squared pixels); -2 when the last Zelk_getMarker found
// nothing.
ZELK_API int32_t Zelk_getLastPose(double matrix[12], double* fitError);
// The camera detection and pose use: the 3 x 4 projection row by row and the four
// distortion factors (centre x, centre y, radial coefficient x 1e8, scale), scaled to the video.
ZELK_API int32_t Zelk_getCamera(double projection[12], double distortion[4]);
// Forgets the marker history, so that the next frame is a picture of its own: no marker
// and no identity of an earlier frame is carried into it (a folder of unrelated photos, a
// cut in the video). Always 0.
ZELK_API int32_t Zelk_resetHistory(void);
// Precise mode on (non-zero) or off (0, the default): corners on the sub-pixel edge and the
// least-squares pose, for Zelk_getMarker and Zelk_getMarkerPose. Corners are refined from the
// next Zelk_Update on. Returns 0.
ZELK_API int32_t Zelk_setPrecise(int32_t on);
// Smoothing of each pattern's pose over frames, on (non-zero) or off (0, the default), for
// Zelk_getMarker; about 3 frames of lag for a still marker, under one when it moves fast.
// A pattern not found by Zelk_getMarker in a frame starts afresh. Returns 0.
ZELK_API int32_t Zelk_setSmoothing(int32_t on);
// The reprojection error of the pose behind the last Zelk_getMarker that returned 0: the root
// of the mean squared distance between its corners and the pose's, in pixels.
ZELK_API int32_t Zelk_getReprojectionError(double* pixels);

// Extensions for game scripts, in the host's numbers where the host has them.
// The printed width of a registered pattern's markers, in the unit the positions are to come
// in (host number; e.g. 50 for a 50 mm marker to track in millimetres). 0; -2 for an id that
// is not registered, -3 for a width that is not positive. Registering a pattern resets it to 80.
ZELK_API int32_t Zelk_setMarkerWidth(int32_t patternId, HostFixed width);
// How many markers of the pattern the last detected frame's list holds (0 for any other id).
ZELK_API int32_t Zelk_getMarkerCopyCount(int32_t patternId);
// Zelk_getMarker for copy number copy (0 ... count - 1) in order of confidence, the surest
// first: copy 0 is what Zelk_getMarker gives. 0, or -1024 (-1 in host numbers).
ZELK_API int32_t Zelk_getMarkerCopy(int32_t patternId, int32_t copy, HostVector* position, HostAngle* angles,
                                    int32_t invert);
// What the last Zelk_Update changed for the pattern: 1 it appeared in the marker list,
// 2 it left it, 0 neither; -2 for an id outside 0 ... 49.
ZELK_API int32_t Zelk_getMarkerEvent(int32_t patternId);
// The camera's field of view in degrees (host numbers), across the width and the height of
// the video: 2 atan(size / 2 focal length). 0; -1 for a null pointer, -2 before a camera.
ZELK_API int32_t Zelk_getFieldOfView(HostFixed* horizontal, HostFixed* vertical);
// What the last Zelk_Update did: 0 the device is closed (before Zelk_Init, after Zelk_Quit
// or a failed Zelk_Init), 1 a new frame was detected, 2 no new frame was ready,
// 3 detection failed and the device was closed (Zelk_Init starts it again).
ZELK_API int32_t Zelk_getCaptureState(void);

// Turns the automatic mode on (1) or off (0, the default), from the next Zelk_Update on:
// a threshold chosen for every part of the frame from its own light, Zelk_Update's
// threshold unused, and small or unsure markers identified again through their fitted
// corners. -1 for any other value (nothing changed). Zelk_Init keeps the mode.
ZELK_API int32_t Zelk_setAutoThreshold(int32_t on);

// Boards: several patterns printed at known places on one flat, rigid board, described by a
// board file (see the README), tracked as one.
// Registers a board file and loads its patterns into free pattern slots, each with the width
// the board gives it. The board id 0 ... 15, or (nothing kept loaded) -1 when the host string
// or the file cannot be read, -2 when the file is not a valid board, -3 when one of its
// pattern files cannot be loaded (a bad file, no free pattern slot) or two of its pictures
// are alike, -4 when 16 boards are registered.
ZELK_API int32_t Zelk_registerBoard(HostString* path);
// Frees the board and the patterns it loaded. 1, or -1 when the id is not a registered board.
ZELK_API int32_t Zelk_freeBoard(int32_t boardId);
// The board's pose from all its markers in the last frame's marker list, as Zelk_getMarker
// gives a marker's: the position in the board's unit, the angles in degrees (host numbers),
// null records skipped. 0; -2 for an id that is not a registered board, -3 when none of its
// markers is in the list or no pose fits (nothing written). Zelk_getLastPose then reports it.
ZELK_API int32_t Zelk_getBoard(int32_t boardId, HostVector* position, HostAngle* angles, int32_t invert);
// How many of the board's markers the last frame's marker list holds; -2 for an id that is
// not a registered board.
ZELK_API int32_t Zelk_getBoardMarkerCount(int32_t boardId);
