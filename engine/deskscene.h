#pragma once

#include <opencv2/core.hpp>

#include <vector>

// One sheet of paper on the desk, as a rotated rectangle in frame pixels.
struct DeskSheet {
    cv::Point2f centre;
    cv::Size2f size;
    float angle = 0.0f; // degrees, as cv::RotatedRect takes it
};

// Draws a BGR frame of a darker, slightly noisy desk carrying the given white
// sheets with printed lines. The same seed gives the same pixels.
cv::Mat drawDeskScene(cv::Size frameSize, const std::vector<DeskSheet> &sheets, unsigned seed = 1);

// The scene the demo video and the benchmarks use: two upright sheets and one turned.
std::vector<DeskSheet> demoSheets(cv::Size frameSize);
