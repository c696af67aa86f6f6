#include "engine/detection.h"

#include "engine/pipeline.h"

#include <opencv2/imgproc.hpp>

cv::RotatedRect toLegacyAngle(const cv::RotatedRect &rect)
{
    // A half turn describes the same corners, so first bring the angle into
    // [-90, 90); a quarter turn with the sides exchanged does the rest.
    float angle = rect.angle;
    while (angle >= 90.0f)
        angle -= 180.0f;
    while (angle < -90.0f)
        angle += 180.0f;
    if (angle < 0.0f)
        return cv::RotatedRect(rect.center, rect.size, angle);
    return cv::RotatedRect(rect.center, cv::Size2f(rect.size.height, rect.size.width), angle - 90.0f);
}

void documentMask(const cv::Mat &grey, cv::Mat &mask)
{
    cv::threshold(grey, mask, kDocumentThreshold, 255.0, cv::THRESH_BINARY);
}

DetectedDocuments detectDocumentsInMask(const cv::Mat &mask, double scale)
{
    DetectedDocuments found;
    if (mask.empty() || mask.type() != CV_8UC1)
        return found;
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);

    // The running best is kept truncated to a whole number, so a later
    // rectangle beats it when larger than that number, not only when larger
    // than the exact area. Equal areas keep the earlier contour.
    int bestArea = 0;
    for (const auto &contour : contours) {
        cv::RotatedRect rect = toLegacyAngle(cv::minAreaRect(contour));
        if (scale != 1.0) {
            const auto factor = static_cast<float>(scale);
            rect = cv::RotatedRect(rect.center * factor, rect.size * factor, rect.angle);
        }
        const float area = rect.size.width * rect.size.height;
        if (!(area > kMinDocumentArea))
            continue;
        if (area > static_cast<float>(bestArea)) {
            found.best = rect;
            bestArea = static_cast<int>(area);
        }
        found.qualifying.push_back(rect);
    }
    return found;
}

DetectedDocuments detectDocuments(const cv::Mat &bgrFrame)
{
    if (bgrFrame.empty() || bgrFrame.type() != CV_8UC3)
        return {};
    cv::Mat grey;
    cv::cvtColor(bgrFrame, grey, cv::COLOR_BGR2GRAY);
    documentMask(grey, grey);
    return detectDocumentsInMask(grey);
}

std::vector<cv::RotatedRect> documentsForMode(const DetectedDocuments &found, int correctionMode)
{
    switch (correctionMode) {
    case kCorrectSingle:
        return {found.best};
    case kCorrectMultiple:
        return found.qualifying;
    default:
        return {};
    }
}
