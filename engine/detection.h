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

// The bright-region mask detection works on: 255 where the grey picture is
// brighter than kDocumentThreshold, else 0. `mask` may be a view into a larger matrix.
void documentMask(const cv::Mat &grey, cv::Mat &mask);

// The contour search of detectDocuments on a mask already made by
// documentMask, for callers that have the frame's grey picture at hand. A
// mask made from the frame shrunk `scale` times gives rectangles in the
// frame's own coordinates, judged by the same area limit.
DetectedDocuments detectDocumentsInMask(const cv::Mat &mask, double scale = 1.0);

// The result a correction mode asks for: 1 the best rectangle alone, 2 every
// qualifying one, anything else none.
std::vector<cv::RotatedRect> documentsForMode(const DetectedDocuments &found, int correctionMode);

// The same rectangle (same corners) described with an angle in [-90, 0), as
// OpenCV releases before 4.5 reported it; later releases use (0, 90].
cv::RotatedRect toLegacyAngle(const cv::RotatedRect &rect);
