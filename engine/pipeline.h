#pragma once

#include <QImage>

#include <opencv2/core.hpp>

#include <vector>

// Shooting types, in the order of the main window's buttons.
enum ShootingType { kShootColour = 0, kShootGrey = 1, kShootBlackWhite = 2, kShootBackgroundRemoved = 3 };
// Correction modes, in the order of the main window's buttons.
enum CorrectionMode { kCorrectNone = 0, kCorrectSingle = 1, kCorrectMultiple = 2, kCorrectCustom = 3 };

constexpr int kAdaptiveBlockSize = 25;
constexpr double kAdaptiveConstant = 20.0;
constexpr int kOutlineThickness = 10;

// Applies a shooting type. Colour (and any unknown type) makes `out` share
// `in`'s pixels; grey gives one channel; black-and-white and background
// removal give three. `in` is never changed; an empty or non-BGR frame is
// passed on as it is.
void applyShootingType(const cv::Mat &in, cv::Mat &out, int shootingType);
// The same, choosing the threshold's kernel as adaptiveThresholdRows does.
void applyShootingType(const cv::Mat &in, cv::Mat &out, int shootingType, bool allowWideKernel);

// The adaptive threshold's verdict for the rows `rows` of a grey picture: 255
// where a pixel is brighter than the mean of its 25 x 25 neighbourhood (edges
// replicated) minus 20, else 0, exactly as cv::adaptiveThreshold decides.
// `mask` receives rows.size() rows. A 256-bit kernel runs when the processor
// has one and `allowWideKernel` is set; clearing it selects the library's box
// filter, so that tests can check both.
void adaptiveThresholdRows(const cv::Mat &grey, cv::Range rows, cv::Mat &mask, bool allowWideKernel = true);

// Draws each rectangle larger than the document limit: green in single mode,
// red otherwise. On a picture shrunk `scale` times from the frame the
// rectangles were found in, they and their lines shrink with it.
void drawDocumentOutlines(cv::Mat &picture, const std::vector<cv::RotatedRect> &rects, bool singleMode,
                          double scale = 1.0);

// Shooting type, then outlines when asked for; returns what the detector found
// in modes 1 and 2 (nothing in other modes). `in` is never changed: outlines on
// a colour picture go into a copy. An empty or non-BGR frame is passed on as
// it is, with no rectangles.
std::vector<cv::RotatedRect> processFrame(const cv::Mat &in, cv::Mat &out, int correctionMode, int shootingType,
                                          bool drawOutlines);

// Turns a picture by 0 to 3 clockwise quarter turns; 0 (or anything else) returns it untouched.
QImage rotateQuarterTurns(const QImage &picture, int rotationIndex);

// The rotation index after a step of -1, +1 or 0 (half turn); other steps change nothing.
int nextRotationIndex(int rotationIndex, int step);
