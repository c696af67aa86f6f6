#include "engine/detection.h"

#include <opencv2/imgproc.hpp>

cv::RotatedRect toLegacyAngle(const cv::RotatedRect &rect)
{
    if (rect.angle <= 0.0f)
        return rect;
    if (rect.angle == 90.0f)
        return cv::RotatedRect(rect.center, rect.size, -90.0f);
    return cv::RotatedRect(rect.center, cv::Size2f(rect.size.height, rect.size.width), rect.angle - 90.0f);
}

DetectedDocuments detectDocuments(const cv::Mat &bgrFrame)
{
    DetectedDocuments found;
    if (bgrFrame.empty() || bgrFrame.type() != CV_8UC3)
        return found;

    cv::Mat grey;
    cv::cvtColor(bgrFrame, grey, cv::COLOR_BGR2GRAY);
    cv::threshold(grey, grey, kDocumentThreshold, 255.0, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(grey, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);

    int bestArea = 0; // kept truncated, as a whole number
    for (const auto &contour : contours) {
        const cv::RotatedRect rect = toLegacyAngle(cv::minAreaRect(contour));
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

std::vector<cv::RotatedRect> documentsForMode(const DetectedDocuments &found, int correctionMode)
{
    switch (correctionMode) {
    case 1:
        return {found.best};
    case 2:
        return found.qualifying;
    default:
        return {};
    }
}
