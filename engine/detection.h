#pragma once

#include <opencv2/core.hpp>

#include <vector>

// A rectangle must be strictly larger than this (width x height, in pixels) to count as a document.
constexpr float kMinDocumentArea = 73500.0f;
// Grey level above which a pixel belongs to a bright region.
constexpr double kDocumentThreshold = 127.0;

// What one detection pass found: the largest qualifying rectangle (all zero
// when none qualified) and every qualifying rectangle in contour order.
struct DetectedDocuments {
    cv::RotatedRect best{cv::Point2f(0, 0), cv::Size2f(0, 0), 0.0f};
    std::vector<cv::RotatedRect> qualifying;
};

// Finds bright outermost regions of an 8-bit BGR frame whose enclosing
// rectangle exceeds kMinDocumentArea. An empty or non-BGR frame finds nothing.
// Angles are always reported in [-90, 0) whatever the OpenCV release.
DetectedDocuments detectDocuments(const cv::Mat &bgrFrame);

// The result a correction mode asks for: 1 the best rectangle alone, 2 every
// qualifying one, anything else none.
std::vector<cv::RotatedRect> documentsForMode(const DetectedDocuments &found, int correctionMode);

// Maps a rectangle from the (0, 90] angle convention to the [-90, 0) one,
// describing the same corners. Rectangles already in [-90, 0) are unchanged.
cv::RotatedRect toLegacyAngle(const cv::RotatedRect &rect);
