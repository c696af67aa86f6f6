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
// removal give three. `in` is never changed.
void applyShootingType(const cv::Mat &in, cv::Mat &out, int shootingType);

// Draws each rectangle larger than the document limit: green in single mode, red otherwise.
void drawDocumentOutlines(cv::Mat &picture, const std::vector<cv::RotatedRect> &rects, bool singleMode);

// Shooting type, then outlines when asked for; returns what the detector found
// (nothing in mode 0). `in` is never changed: outlines on a colour picture go
// into a copy.
std::vector<cv::RotatedRect> processFrame(const cv::Mat &in, cv::Mat &out, int correctionMode, int shootingType,
                                          bool drawOutlines);

// Turns a picture by 0 to 3 clockwise quarter turns; 0 (or anything else) returns it untouched.
QImage rotateQuarterTurns(const QImage &picture, int rotationIndex);

// The rotation index after a step of -1, +1 or 0 (half turn); other steps change nothing.
int nextRotationIndex(int rotationIndex, int step);
