// The board exports: register and free board files, and a board's pose in the host's numbers.
#include <cstring>

#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "plugin/host_binding.h"
#include "plugin/marker_query.h"

namespace zelk {

namespace {

BoardSlot* boardAt(int32_t boardId) {
    if (boardId < 0 || boardId >= BOARD_SLOTS || !pluginState()->boards[boardId].inUse) return nullptr;
    return &pluginState()->boards[boardId];
}

// Whether the pictures of two slots are the same in some quarter turn: the detector could
// not tell which of the two it sees.
bool alike(const PatternLibrary& library, int a, int b) {
    for (int o = 0; o < PATTERN_ORIENTATIONS; o++)
        if (std::memcmp(library.templates[a][0], library.templates[b][o], sizeof library.templates[a][0]) == 0)
            return true;
    return false;
}

// Loads the board's patterns into ids; -3 (none kept) when one cannot be loaded or two are alike.
int32_t loadBoardPatterns(const char* path, const BoardFile& board, int32_t* ids) {
    PluginState* state = pluginState();
    PatternLibrary* library = &state->detector.patterns;
    const int count = int(board.markers.size());
    int loaded = 0;
    bool failed = false;
    for (; loaded < count && !failed; loaded++) {
        ids[loaded] = loadPattern(library, boardPatternPath(path, board.markers[size_t(loaded)].pattern).c_str());
        failed = ids[loaded] < 0;
        for (int j = 0; j < loaded && !failed; j++) failed = alike(*library, ids[j], ids[loaded]);
    }
    if (failed) {
        for (int i = 0; i < loaded; i++) freePattern(library, ids[i]);
        return -3;
    }
    for (int i = 0; i < count; i++) state->patternWidth[ids[i]] = board.markers[size_t(i)].width;
    return 0;
}

// The record each of the board's markers has in the marker list (the surest), or null.
int markersInView(const BoardSlot& board, const MarkerRecord* seen[BOARD_MAX_MARKERS]) {
    const MarkerList& markers = pluginState()->detector.markers;
    int inView = 0;
    for (int i = 0; i < board.model.count; i++) {
        seen[i] = selectMarker(markers.records, markers.count, board.model.patternId[i]);
        inView += seen[i] != nullptr;
    }
    return inView;
}

}  // namespace

void dropBoardPattern(int32_t patternId) {
    for (BoardSlot& board : pluginState()->boards)
        for (int i = 0; board.inUse && i < board.model.count; i++)
            if (board.model.patternId[i] == patternId) board.model.patternId[i] = -1;
}

}  // namespace zelk

using namespace zelk;

ZELK_API int32_t Zelk_registerBoard(HostString* path) {
    const HostChrFunction chr = boundChr();
    const char* characters = path && chr ? chr(path) : nullptr;
    if (!characters) return -1;
    BoardFile board;
    const BoardFileResult read = loadBoardFile(characters, &board);
    if (read.status == BOARD_FILE_UNREADABLE) return -1;
    if (read.status != BOARD_FILE_OK) return -2;
    PluginState* state = pluginState();
    int32_t id = 0;
    while (id < BOARD_SLOTS && state->boards[id].inUse) id++;
    if (id == BOARD_SLOTS) return -4;
    int32_t patternIds[BOARD_MAX_MARKERS];
    if (loadBoardPatterns(characters, board, patternIds) != 0) return -3;
    BoardSlot& slot = state->boards[id];
    slot = BoardSlot{};
    makeBoardModel(board, patternIds, &slot.model);
    slot.inUse = true;
    return id;
}

ZELK_API int32_t Zelk_freeBoard(int32_t boardId) {
    BoardSlot* board = boardAt(boardId);
    if (!board) return -1;
    for (int i = 0; i < board->model.count; i++)
        if (board->model.patternId[i] >= 0) freePattern(&pluginState()->detector.patterns, board->model.patternId[i]);
    board->inUse = false;
    return 1;
}

ZELK_API int32_t Zelk_getBoard(int32_t boardId, HostVector* position, HostAngle* angles, int32_t invert) {
    pluginState()->lastPoseFound = false;
    BoardSlot* board = boardAt(boardId);
    if (!board) return -2;
    const MarkerRecord* seen[BOARD_MAX_MARKERS];
    if (markersInView(*board, seen) == 0) return -3;
    const Detector& detector = pluginState()->detector;
    const double(*previous)[4] = enterPoseFrame(&board->poses, detector.frameCount);
    double pose[3][4];
    const BoardPoseResult fit = estimateBoardPose(&board->model, seen, &detector.camera, previous, pose);
    if (fit.fitError < 0) return -3;
    keepPose(&board->poses, detector.frameCount, pose);
    return reportPose(pose, fit.fitError, position, angles, invert) == 0 ? 0 : -3;
}

ZELK_API int32_t Zelk_getBoardMarkerCount(int32_t boardId) {
    const BoardSlot* board = boardAt(boardId);
    if (!board) return -2;
    const MarkerRecord* seen[BOARD_MAX_MARKERS];
    return markersInView(*board, seen);
}
