// Boards of our own marker pictures: their files, their markers' poses, and rendered frames.
#pragma once
#include <string>
#include <vector>

#include "camera/camera_params.h"
#include "platform/videocapture/render/synthetic_scene.h"
#include "pose/board_file.h"

// A board of count (1 ... 6) markers 50 wide in a 3 x 2 grid 70 apart, pictures 0 ... count-1,
// each turned differently; marker i's pattern file is "board_i.patt".
zelk::BoardFile testBoard(int count);
// The board file's text.
std::string boardText(const zelk::BoardFile& board);
// Writes the board's pattern files and the board file into a fresh scratch folder; the board file's path.
std::string writeBoardFiles(const zelk::BoardFile& board);
// The pose of a board's marker when the board has boardPose.
void boardMarkerPose(const zelk::BoardMarker& marker, const double boardPose[3][4], double pose[3][4]);
// Renders the board at boardPose, without the markers whose bit is set in hidden, into a BGRA frame.
std::vector<unsigned char> renderBoard(const zelk::CameraParams& camera, const zelk::BoardFile& board,
                                       const double boardPose[3][4], unsigned hidden,
                                       const zelk::synth::RenderOptions& options);
