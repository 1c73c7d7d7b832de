// Board poses against the renderer's truth, beside OpenCV's ArUco board on the same poses.
#pragma once

// Prints rotation and translation errors of board poses with all, three and one of six
// markers in view, beside each single marker's own pose and OpenCV's estimatePoseBoard
// (and solvePnP on our corners), over views random poses.
void measureBoards(int views);
