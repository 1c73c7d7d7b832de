// Marker pictures of our own, their pattern files, and markers drawn into BGRA frames.
#pragma once
#include <string>
#include <vector>

#include "tests/support/frames.h"

// 16 x 16 pixels, row 0 at the top, 3 planes in frame byte order (blue, green, red).
struct PatternPicture {
    unsigned char value[16][16][3];
};

// Design number index (0, 1, 2, ...): blocky, coloured, different from each other and from
// their own quarter turns.
PatternPicture makePatternPicture(int index);
// The picture turned by quarterTurns counter-clockwise (numpy.rot90).
PatternPicture rotatePicture(const PatternPicture& picture, int quarterTurns);
// Normalised correlation of the two pictures as identification measures it (mean removed).
double pictureCorrelation(const PatternPicture& a, const PatternPicture& b);
// Writes a pattern file: orientation block o is the picture turned o times.
void writePatternFile(const std::string& path, const PatternPicture& picture);
// Writes a text file with the given contents.
void writeTextFile(const std::string& path, const std::string& text);

// Draws a printed marker (black outer quarter, picture in the middle half) whose top-left,
// top-right, bottom-right and bottom-left corners land on the given image points. Pixel
// (x, y) shows what lies at the point (x, y).
void drawMarker(TestFrame& frame, const std::vector<Point2>& corners, const PatternPicture& picture);
