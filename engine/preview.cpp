#include "engine/preview.h"

#include "engine/detection.h"
#include "engine/pageturndetector.h"
#include "engine/pipeline.h"

#include <opencv2/imgproc.hpp>

namespace {

constexpr int kReductions[] = {8, 4, 2};

int ceilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

} // namespace

cv::Mat renderPreview(const cv::Mat &picture, int scale, int correctionMode, int shootingType)
{
    cv::Mat out;
    if (scale <= 1 || picture.empty() || picture.type() != CV_8UC3) {
        processFrame(picture, out, correctionMode, shootingType, true);
        return out;
    }
    std::vector<cv::RotatedRect> rects;
    if (correctionMode == kCorrectSingle || correctionMode == kCorrectMultiple) {
        cv::Mat mask;
        cv::cvtColor(picture, mask, cv::COLOR_BGR2GRAY);
        documentMask(mask, mask);
        rects = documentsForMode(detectDocumentsInMask(mask, scale), correctionMode);
    }
    applyShootingType(picture, out, shootingType);
    if (!rects.empty()) {
        if (out.data == picture.data)
            out = picture.clone();
        drawDocumentOutlines(out, rects, correctionMode == kCorrectSingle, scale);
    }
    return out;
}

int pageTurnReduction(cv::Size frame)
{
    for (const int factor : kReductions) {
        if (ceilDiv(frame.width, factor) >= PageTurnDetector::kCheckWidth
            && ceilDiv(frame.height, factor) >= PageTurnDetector::kCheckHeight)
            return factor;
    }
    return 1;
}
