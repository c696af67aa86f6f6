#pragma once

#include <opencv2/core.hpp>

// The live picture of one frame, from the frame decoded `scale` times smaller
// than it is (1 for the whole frame): the shooting type applied and, in the
// correction modes that cut documents out, their outlines drawn. At scale 1
// it is exactly the pipeline's own processing; smaller, the documents are
// judged by their size in the whole frame, so the same ones are outlined.
// `picture` is never changed.
cv::Mat renderPreview(const cv::Mat &picture, int scale, int correctionMode, int shootingType);

// The largest reduction (8, 4, 2 or 1) that still leaves a frame of this
// size large enough for the page-turn detector's checks.
int pageTurnReduction(cv::Size frame);
