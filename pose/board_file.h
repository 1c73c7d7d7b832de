// Board files: several patterns printed at known places on one rigid, flat board.
//
// A board file is text, one marker to a line:
//
//     # centre x, centre y, rotation, width, pattern file
//     marker   -60   40   0   50   patterns/alpha.patt
//     marker    60  -40  90   50   patterns/beta.patt
//
// The centre is the marker's middle on the board, x to the right and y up the printed
// board; the rotation turns the printed marker counter-clockwise, in degrees; the width is
// its black square's side, border included. All three are in the board's unit (printed
// sheets take it as millimetres), and the board's pose comes in that unit. The pattern file
// is the rest of the line, relative to the board file's folder. '#' starts a comment; blank
// lines are skipped. Anything else, a number that is not finite or beyond BOARD_COORDINATE_MAX,
// a width not above 0, a pattern named twice, or markers that overlap, makes the file invalid.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace zelk {

constexpr int BOARD_MAX_MARKERS = 50;  // as many as there are pattern slots
constexpr double BOARD_COORDINATE_MAX = 1e6;
constexpr size_t BOARD_FILE_MAX_BYTES = 65536;

struct BoardMarker {
    double centre[2];
    double rotation;  // degrees, counter-clockwise
    double width;
    std::string pattern;  // as written in the file
};

struct BoardFile {
    std::vector<BoardMarker> markers;
};

enum BoardFileStatus {
    BOARD_FILE_OK = 0,
    BOARD_FILE_UNREADABLE,  // no such file, or it cannot be read
    BOARD_FILE_TOO_LARGE,   // more than BOARD_FILE_MAX_BYTES
    BOARD_FILE_SYNTAX,      // a line that is not a marker line, or a byte no text file holds
    BOARD_FILE_VALUE,       // a number out of range
    BOARD_FILE_EMPTY,       // no marker
    BOARD_FILE_TOO_MANY,    // more than BOARD_MAX_MARKERS
    BOARD_FILE_DUPLICATE,   // one pattern file named twice
    BOARD_FILE_OVERLAP,     // two markers' squares overlap
};

// The status and, for a fault in one line, its number (from 1; 0 otherwise).
struct BoardFileResult {
    BoardFileStatus status;
    int line;
};

// Reads a board from text (length bytes, any content). board is filled only on success.
BoardFileResult parseBoard(const char* text, size_t length, BoardFile* board);
// Reads the board file at path.
BoardFileResult loadBoardFile(const char* path, BoardFile* board);
// A sentence for the status, such as "a marker line needs x, y, rotation, width and a pattern file".
const char* boardFileMessage(BoardFileStatus status);
// The path of a pattern the board file at boardPath names: relative names are relative to the
// board file's folder.
std::string boardPatternPath(const char* boardPath, const std::string& pattern);
// The marker's corners on the board in pattern order: the printed picture's top-left,
// top-right, bottom-right and bottom-left.
void boardMarkerCorners(const BoardMarker& marker, double corners[4][2]);

}  // namespace zelk
