#include "tests/support/board_scene.h"

#include <cmath>
#include <filesystem>
#include <sstream>

#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

zelk::BoardFile testBoard(int count) {
    const double rotations[] = {0, 90, 30, 180, -45, 270};
    zelk::BoardFile board;
    for (int i = 0; i < count && i < 6; i++)
        board.markers.push_back(
            {{70.0 * (i % 3) - 70, i < 3 ? 35.0 : -35.0}, rotations[i], 50, "board_" + std::to_string(i) + ".patt"});
    return board;
}

std::string boardText(const zelk::BoardFile& board) {
    std::ostringstream text;
    text << "# x y rotation width pattern\n";
    for (const zelk::BoardMarker& m : board.markers)
        text << "marker " << m.centre[0] << " " << m.centre[1] << " " << m.rotation << " " << m.width << " "
             << m.pattern << "\n";
    return text.str();
}

std::string writeBoardFiles(const zelk::BoardFile& board) {
    const std::filesystem::path folder = scratchPath("board");
    std::filesystem::create_directories(folder);
    for (size_t i = 0; i < board.markers.size(); i++)
        writePatternFile((folder / board.markers[i].pattern).string(), makePatternPicture(int(i)));
    const std::string path = (folder / "test.board").string();
    writeTextFile(path, boardText(board));
    return path;
}

void boardMarkerPose(const zelk::BoardMarker& marker, const double boardPose[3][4], double pose[3][4]) {
    const double turn = marker.rotation * 3.141592653589793 / 180, c = std::cos(turn), s = std::sin(turn);
    for (int r = 0; r < 3; r++) {
        pose[r][0] = boardPose[r][0] * c + boardPose[r][1] * s;
        pose[r][1] = -boardPose[r][0] * s + boardPose[r][1] * c;
        pose[r][2] = boardPose[r][2];
        pose[r][3] = boardPose[r][0] * marker.centre[0] + boardPose[r][1] * marker.centre[1] + boardPose[r][3];
    }
}

std::vector<unsigned char> renderBoard(const zelk::CameraParams& camera, const zelk::BoardFile& board,
                                       const double boardPose[3][4], unsigned hidden,
                                       const zelk::synth::RenderOptions& options) {
    static std::vector<zelk::synth::MarkerFace> faces;
    while (faces.size() < board.markers.size())
        faces.push_back(zelk::synth::patternFace(makePatternPicture(int(faces.size())).value));
    std::vector<zelk::synth::SceneMarker> placed;
    for (size_t i = 0; i < board.markers.size(); i++) {
        if (hidden >> i & 1u) continue;
        zelk::synth::SceneMarker marker;
        marker.face = &faces[i];
        marker.width = board.markers[i].width;
        boardMarkerPose(board.markers[i], boardPose, marker.pose);
        placed.push_back(marker);
    }
    std::vector<unsigned char> frame(size_t(camera.imageWidth) * camera.imageHeight * 4);
    zelk::synth::Renderer(camera).render(placed, options, options.seed, frame.data());
    return frame;
}
