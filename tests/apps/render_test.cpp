// zelk render: a synthetic scene's frames, truth, camera and playback configuration.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/camera_params.h"
#include "platform/videocapture/videocapture.h"
#include "tests/apps/run_zelk.h"
#include "tests/support/paths.h"

namespace {

namespace fs = std::filesystem;

// The next frame of the open video source as a BGR picture; empty at the end.
cv::Mat nextFrame(int width, int height) {
    unsigned char* bgra = videoGetImage();
    if (!bgra) return cv::Mat();
    cv::Mat frame;
    cv::cvtColor(cv::Mat(height, width, CV_8UC4, bgra), frame, cv::COLOR_BGRA2BGR);
    videoCapNext();
    return frame;
}

// Plays a configuration through the video library into pictures.
std::vector<cv::Mat> play(const std::string& config, int frames) {
    std::vector<cv::Mat> pictures;
    EXPECT_GE(videoOpen(config.c_str()), 0) << config;
    int width = 0, height = 0;
    videoInqSize(&width, &height);
    videoCapStart();
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame = nextFrame(width, height);
        if (frame.empty()) break;
        pictures.push_back(frame);
    }
    videoCapStop();
    videoClose();
    return pictures;
}

TEST(Render, WritesWhatTheVideoLibraryPlaysWithTruthCameraAndPlayback) {
    const fs::path folder = scratchPath("render");
    const ZelkRun run = runZelk("render Data/WDM_camera_flipV.xml --frames 3 -o " + folder.string());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<cv::Mat> played = play("Data/WDM_camera_flipV.xml", 3);
    ASSERT_EQ(played.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const cv::Mat written = cv::imread((folder / cv::format("%04d.png", i)).string(), cv::IMREAD_COLOR);
        ASSERT_FALSE(written.empty()) << i;
        EXPECT_EQ(cv::norm(written, played[i], cv::NORM_INF), 0.0) << "frame " << i;
    }
    EXPECT_FALSE(fs::exists(folder / "0003.png"));

    // Three markers a frame, frames numbered from 0.
    std::ifstream truth(folder / "truth.jsonl");
    std::string line;
    int lines = 0;
    while (std::getline(truth, line)) {
        const nlohmann::json j = nlohmann::json::parse(line);
        EXPECT_EQ(j["frame"].get<int>(), lines / 3);
        EXPECT_EQ(j["marker"].get<int>(), lines % 3);
        ++lines;
    }
    EXPECT_EQ(lines, 9);

    zelk::CameraParams camera{};
    ASSERT_EQ(zelk::loadCameraParams((folder / "camera_para.dat").c_str(), 1, &camera), 0);
    EXPECT_EQ(camera.imageWidth, 640);
    EXPECT_EQ(camera.imageHeight, 480);

    const std::vector<cv::Mat> playedBack = play((folder / "frames.xml").string(), 4);
    ASSERT_EQ(playedBack.size(), 3u);
    EXPECT_EQ(cv::norm(playedBack[2], played[2], cv::NORM_INF), 0.0);
}

}  // namespace
