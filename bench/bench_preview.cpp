#include "bench.h"

#include "scenes/deskscene.h"
#include "engine/detection.h"
#include "engine/frameconversion.h"
#include "engine/pipeline.h"

#include <QTransform>

#include <opencv2/imgproc.hpp>


#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// The preview path written the plain way, step by step, as the reference the
// engine's version is timed against and must match pixel for pixel.
std::vector<cv::RotatedRect> baselineFindSquares(const cv::Mat &frame, int correctionMode)
{
    cv::Mat grey, binary;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::threshold(grey, binary, kDocumentThreshold, 255.0, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(binary, contours, hierarchy, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    cv::RotatedRect best(cv::Point2f(0, 0), cv::Size2f(0, 0), 0.0f);
    std::vector<cv::RotatedRect> qualifying;
    int bestArea = 0;
    for (const auto &contour : contours) {
        const cv::RotatedRect rect = toLegacyAngle(cv::minAreaRect(contour));
        const float area = rect.size.width * rect.size.height;
        if (area <= kMinDocumentArea)
            continue;
        if (area > static_cast<float>(bestArea)) {
            best = rect;
            bestArea = static_cast<int>(area);
        }
        qualifying.push_back(rect);
    }
    if (correctionMode == kCorrectSingle)
        return {best};
    if (correctionMode == kCorrectMultiple)
        return qualifying;
    return {};
}

void baselineHandleMat(const cv::Mat &in, cv::Mat &out, int correctionMode, int shootingType)
{
    std::vector<cv::RotatedRect> rects;
    if (correctionMode != kCorrectNone)
        rects = baselineFindSquares(in.clone(), correctionMode);
    cv::Mat grey, bw, bw3;
    switch (shootingType) {
    case kShootGrey:
        cv::cvtColor(in, out, cv::COLOR_BGR2GRAY);
        break;
    case kShootBlackWhite:
        cv::cvtColor(in, grey, cv::COLOR_BGR2GRAY);
        cv::adaptiveThreshold(grey, bw, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, kAdaptiveBlockSize,
                              kAdaptiveConstant);
        cv::cvtColor(bw, out, cv::COLOR_GRAY2BGR);
        break;
    case kShootBackgroundRemoved:
        cv::cvtColor(in, grey, cv::COLOR_BGR2GRAY);
        cv::adaptiveThreshold(grey, bw, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, kAdaptiveBlockSize,
                              kAdaptiveConstant);
        cv::cvtColor(bw, bw3, cv::COLOR_GRAY2BGR);
        cv::add(in, bw3, out);
        break;
    default:
        out = in;
        break;
    }
    if (rects.empty())
        return;
    const cv::Scalar colour = correctionMode == kCorrectSingle ? cv::Scalar(0, 255, 0) : cv::Scalar(0, 0, 255);
    for (const auto &rect : rects) {
        if (rect.size.width * rect.size.height <= kMinDocumentArea)
            continue;
        cv::Point2f corners[4];
        rect.points(corners);
        for (int i = 0; i < 4; ++i)
            cv::line(out, cv::Point(cvRound(corners[i].x), cvRound(corners[i].y)),
                     cv::Point(cvRound(corners[(i + 1) % 4].x), cvRound(corners[(i + 1) % 4].y)), colour,
                     kOutlineThickness, cv::LINE_8, 0);
    }
}

QImage baselineMatQImage(const cv::Mat &mat)
{
    if (mat.type() == CV_8UC1) {
        QImage image(mat.cols, mat.rows, QImage::Format_Indexed8);
        QVector<QRgb> table;
        for (int i = 0; i < 256; ++i)
            table.append(qRgb(i, i, i));
        image.setColorTable(table);
        for (int y = 0; y < mat.rows; ++y)
            memcpy(image.scanLine(y), mat.ptr(y), static_cast<size_t>(mat.cols));
        return image;
    }
    if (mat.type() == CV_8UC3)
        return QImage(mat.data, mat.cols, mat.rows, static_cast<int>(mat.step), QImage::Format_RGB888).rgbSwapped();
    return {};
}

QImage baselinePreview(const cv::Mat &current, int correctionMode, int shootingType, int rotation)
{
    const cv::Mat copy = current.clone();
    cv::Mat processed;
    baselineHandleMat(copy, processed, correctionMode, shootingType);
    QImage image = baselineMatQImage(processed);
    if (rotation == 0)
        return image;
    QTransform matrix;
    matrix.rotate(90.0 * rotation);
    return image.transformed(matrix, Qt::SmoothTransformation);
}

// What the capture loop does with each frame it reads.
QImage enginePreview(const cv::Mat &current, int correctionMode, int shootingType, int rotation)
{
    cv::Mat processed;
    processFrame(current, processed, correctionMode, shootingType, true);
    return rotateQuarterTurns(matToQImage(processed), rotation);
}

double elapsedMs(const std::chrono::steady_clock::time_point &start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

constexpr int kTimedFrames = 21;
// Untimed frames first, so that the allocator has settled on its buffers.
constexpr int kWarmUpFrames = 3;

int runPreviewBench()
{
    // The allocator keeps frame buffers (as the program does, see main), so
    // the timings measure the pixel work rather than page faults.
    int failures = 0;
    for (const cv::Size size : {cv::Size(3264, 2448), cv::Size(1920, 1080)}) {
        const cv::Mat frame = drawDeskScene(size, demoSheets(size));
        const cv::Mat pristine = frame.clone();
        for (int shootingType = 0; shootingType <= 3; ++shootingType) {
            for (int correctionMode = 0; correctionMode <= 2; ++correctionMode) {
                for (int rotation = 0; rotation <= 1; ++rotation) {
                    const QImage expected = baselinePreview(frame, correctionMode, shootingType, rotation);
                    const QImage actual = enginePreview(frame, correctionMode, shootingType, rotation);
                    const bool same = actual == expected && actual.format() == expected.format();
                    const bool untouched = cv::norm(frame, pristine, cv::NORM_INF) == 0.0;
                    if (!same || !untouched) {
                        std::printf("preview %d %d %d %dx%d MISMATCH%s\n", shootingType, correctionMode, rotation,
                                    size.width, size.height, untouched ? "" : " (input frame changed)");
                        ++failures;
                        continue;
                    }
                    std::vector<double> baselineMs, engineMs;
                    for (int i = 0; i < kWarmUpFrames + kTimedFrames; ++i) {
                        auto start = std::chrono::steady_clock::now();
                        QImage a = baselinePreview(frame, correctionMode, shootingType, rotation);
                        const double b = elapsedMs(start);
                        a = QImage();
                        start = std::chrono::steady_clock::now();
                        QImage e = enginePreview(frame, correctionMode, shootingType, rotation);
                        const double m = elapsedMs(start);
                        if (i >= kWarmUpFrames) {
                            baselineMs.push_back(b);
                            engineMs.push_back(m);
                        }
                    }
                    std::printf("preview %d %d %d %dx%d baseline_ms=%.2f ms=%.2f\n", shootingType, correctionMode,
                                rotation, size.width, size.height, medianMs(baselineMs), medianMs(engineMs));
                    std::fflush(stdout);
                }
            }
        }
    }
    return failures;
}

} // namespace

VORLANT_BENCH_GROUP("preview", runPreviewBench);
