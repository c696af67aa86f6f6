#include "engine/deskscene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

const cv::Scalar kDeskColour(58, 66, 74);
const cv::Scalar kPaperColour(236, 238, 240);
const cv::Scalar kInkColour(60, 50, 40);
constexpr double kDeskNoise = 6.0;

cv::Point toPoint(const cv::Point2f &p)
{
    return cv::Point(cvRound(p.x), cvRound(p.y));
}

void drawSheet(cv::Mat &frame, const DeskSheet &sheet)
{
    const cv::RotatedRect rect(sheet.centre, sheet.size, sheet.angle);
    cv::Point2f corners[4];
    rect.points(corners);
    std::vector<cv::Point> poly;
    for (const auto &c : corners)
        poly.push_back(toPoint(c));
    cv::fillConvexPoly(frame, poly, kPaperColour, cv::LINE_8);

    // Printed lines run along the sheet's width, inside a margin.
    const double a = sheet.angle * CV_PI / 180.0;
    const cv::Point2f along(static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)));
    const cv::Point2f down(-along.y, along.x);
    const float margin = std::min(sheet.size.width, sheet.size.height) * 0.12f;
    const float half = sheet.size.width / 2 - margin;
    const float spacing = std::max(8.0f, sheet.size.height / 18.0f);
    const int thickness = std::max(1, cvRound(spacing / 6));
    int line = 0;
    for (float y = -sheet.size.height / 2 + margin; y < sheet.size.height / 2 - margin; y += spacing, ++line) {
        const float length = (line % 4 == 3) ? half : 2 * half; // some lines end early, like paragraphs
        const cv::Point2f start = sheet.centre + down * y - along * half;
        cv::line(frame, toPoint(start), toPoint(start + along * length), kInkColour, thickness, cv::LINE_AA);
    }
}

} // namespace

cv::Mat drawDeskScene(cv::Size frameSize, const std::vector<DeskSheet> &sheets, unsigned seed)
{
    cv::Mat desk(frameSize, CV_16SC3, kDeskColour);
    cv::Mat noise(frameSize, CV_16SC3);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(kDeskNoise));
    desk += noise;
    cv::Mat frame;
    desk.convertTo(frame, CV_8UC3);
    for (const auto &sheet : sheets)
        drawSheet(frame, sheet);
    return frame;
}

std::vector<DeskSheet> demoSheets(cv::Size frameSize)
{
    const float w = static_cast<float>(frameSize.width);
    const float h = static_cast<float>(frameSize.height);
    return {
        {{w * 0.22f, h * 0.50f}, {w * 0.26f, h * 0.62f}, 0.0f},
        {{w * 0.52f, h * 0.48f}, {w * 0.20f, h * 0.50f}, 12.0f},
        {{w * 0.80f, h * 0.40f}, {w * 0.22f, h * 0.36f}, 0.0f},
    };
}
