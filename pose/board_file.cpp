#include "pose/board_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace zelk {

namespace {

constexpr double DEGREES_TO_RADIANS = 3.141592653589793 / 180;

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The next blank-separated word of [*at, end), advancing *at past it; empty at the end.
std::string_view word(const char** at, const char* end) {
    while (*at < end && blank(**at)) ++*at;
    const char* start = *at;
    while (*at < end && !blank(**at)) ++*at;
    return std::string_view(start, size_t(*at - start));
}

// A whole word as a number; false for anything else or a value beyond what the board allows.
bool number(std::string_view text, double* value) {
    const char* end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, *value);
    return read.ec == std::errc() && read.ptr == end && std::isfinite(*value) &&
           std::fabs(*value) <= BOARD_COORDINATE_MAX;
}

// One line without its comment: nothing, or a marker appended to markers.
BoardFileStatus parseLine(const char* at, const char* end, std::vector<BoardMarker>* markers) {
    const std::string_view keyword = word(&at, end);
    if (keyword.empty()) return BOARD_FILE_OK;
    if (keyword != "marker") return BOARD_FILE_SYNTAX;
    double values[4];
    for (double& value : values) {
        const std::string_view text = word(&at, end);
        if (text.empty()) return BOARD_FILE_SYNTAX;
        if (!number(text, &value)) return BOARD_FILE_VALUE;
    }
    while (at < end && blank(*at)) ++at;
    while (end > at && blank(end[-1])) --end;
    if (at == end) return BOARD_FILE_SYNTAX;
    if (!(values[3] > 0)) return BOARD_FILE_VALUE;
    if (markers->size() == size_t(BOARD_MAX_MARKERS)) return BOARD_FILE_TOO_MANY;
    markers->push_back({{values[0], values[1]}, values[2], values[3], std::string(at, end)});
    return BOARD_FILE_OK;
}

// Two markers overlap for certain when their inscribed circles do.
bool overlap(const BoardMarker& a, const BoardMarker& b) {
    return std::hypot(a.centre[0] - b.centre[0], a.centre[1] - b.centre[1]) < (a.width + b.width) / 2;
}

}  // namespace

BoardFileResult parseBoard(const char* text, size_t length, BoardFile* board) {
    if (!text || !board) return {BOARD_FILE_UNREADABLE, 0};
    if (length > BOARD_FILE_MAX_BYTES) return {BOARD_FILE_TOO_LARGE, 0};
    const char* at = text;
    const char* const end = text + length;
    if (length >= 3 && std::string_view(text, 3) == "\xEF\xBB\xBF") at += 3;  // a UTF-8 mark some editors write
    std::vector<BoardMarker> markers;
    for (int line = 1; at < end; line++) {
        const char* lineEnd = at;
        while (lineEnd < end && *lineEnd != '\n') lineEnd++;
        const char* content = at;
        while (content < lineEnd && *content != '#') content++;
        for (const char* c = at; c < lineEnd; c++)
            if (static_cast<unsigned char>(*c) < 32 && *c != '\t' && *c != '\r') return {BOARD_FILE_SYNTAX, line};
        const BoardFileStatus status = parseLine(at, content, &markers);
        if (status != BOARD_FILE_OK) return {status, line};
        at = lineEnd < end ? lineEnd + 1 : end;
    }
    if (markers.empty()) return {BOARD_FILE_EMPTY, 0};
    for (size_t i = 0; i < markers.size(); i++)
        for (size_t j = 0; j < i; j++) {
            if (markers[i].pattern == markers[j].pattern) return {BOARD_FILE_DUPLICATE, 0};
            if (overlap(markers[i], markers[j])) return {BOARD_FILE_OVERLAP, 0};
        }
    board->markers = std::move(markers);
    return {BOARD_FILE_OK, 0};
}

BoardFileResult loadBoardFile(const char* path, BoardFile* board) {
    if (!path || !board) return {BOARD_FILE_UNREADABLE, 0};
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return {BOARD_FILE_UNREADABLE, 0};
    std::string text(BOARD_FILE_MAX_BYTES + 1, '\0');
    const size_t length = std::fread(&text[0], 1, text.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return {BOARD_FILE_UNREADABLE, 0};
    return parseBoard(text.data(), length, board);
}

const char* boardFileMessage(BoardFileStatus status) {
    switch (status) {
        case BOARD_FILE_OK: return "a valid board";
        case BOARD_FILE_UNREADABLE: return "cannot read the board file";
        case BOARD_FILE_TOO_LARGE: return "the board file is larger than 64 KiB";
        case BOARD_FILE_SYNTAX: return "a marker line needs: marker x y rotation width pattern-file";
        case BOARD_FILE_VALUE: return "a number is not finite, beyond 1e6, or a width is not above 0";
        case BOARD_FILE_EMPTY: return "the board has no marker";
        case BOARD_FILE_TOO_MANY: return "the board has more than 50 markers";
        case BOARD_FILE_DUPLICATE: return "the board names one pattern file twice";
        case BOARD_FILE_OVERLAP: return "two markers of the board overlap";
    }
    return "not a board file";
}

std::string boardPatternPath(const char* boardPath, const std::string& pattern) {
    const bool absolute =
        (!pattern.empty() && (pattern[0] == '/' || pattern[0] == '\\')) || (pattern.size() > 1 && pattern[1] == ':');
    const std::string board = boardPath ? boardPath : "";
    const size_t slash = board.find_last_of("/\\");
    if (absolute || slash == std::string::npos) return pattern;
    return board.substr(0, slash + 1) + pattern;
}

void boardMarkerCorners(const BoardMarker& marker, double corners[4][2]) {
    const double half = marker.width / 2, turn = marker.rotation * DEGREES_TO_RADIANS;
    const double c = std::cos(turn), s = std::sin(turn);
    const double square[4][2] = {{-half, half}, {half, half}, {half, -half}, {-half, -half}};
    for (int j = 0; j < 4; j++) {
        corners[j][0] = marker.centre[0] + c * square[j][0] - s * square[j][1];
        corners[j][1] = marker.centre[1] + s * square[j][0] + c * square[j][1];
    }
}

}  // namespace zelk
