#include "engine/pipeline.h"

#include "engine/detection.h"

#include <QTransform>

#include <opencv2/imgproc.hpp>

void applyShootingType(const cv::Mat &in, cv::Mat &out, int shootingType)
{
    switch (shootingType) {
    case kShootGrey:
        cv::cvtColor(in, out, cv::COLOR_BGR2GRAY);
        break;
    case kShootBlackWhite: {
        cv::Mat grey, bw;
        cv::cvtColor(in, grey, cv::COLOR_BGR2GRAY);
        cv::adaptiveThreshold(grey, bw, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, kAdaptiveBlockSize,
                              kAdaptiveConstant);
        cv::cvtColor(bw, out, cv::COLOR_GRAY2BGR);
        break;
    }
    case kShootBackgroundRemoved: {
        cv::Mat grey, bw, bw3;
        cv::cvtColor(in, grey, cv::COLOR_BGR2GRAY);
        cv::adaptiveThreshold(grey, bw, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, kAdaptiveBlockSize,
                              kAdaptiveConstant);
        cv::cvtColor(bw, bw3, cv::COLOR_GRAY2BGR);
        cv::add(in, bw3, out);
        break;
    }
    default:
        out = in;
        break;
    }
}

void drawDocumentOutlines(cv::Mat &picture, const std::vector<cv::RotatedRect> &rects, bool singleMode)
{
    const cv::Scalar colour = singleMode ? cv::Scalar(0, 255, 0) : cv::Scalar(0, 0, 255);
    for (const auto &rect : rects) {
        if (!(rect.size.width * rect.size.height > kMinDocumentArea))
            continue;
        cv::Point2f corners[4];
        rect.points(corners);
        for (int i = 0; i < 4; ++i) {
            const cv::Point2f &a = corners[i];
            const cv::Point2f &b = corners[(i + 1) % 4];
            cv::line(picture, cv::Point(cvRound(a.x), cvRound(a.y)), cv::Point(cvRound(b.x), cvRound(b.y)), colour,
                     kOutlineThickness, cv::LINE_8, 0);
        }
    }
}

std::vector<cv::RotatedRect> processFrame(const cv::Mat &in, cv::Mat &out, int correctionMode, int shootingType,
                                          bool drawOutlines)
{
    std::vector<cv::RotatedRect> rects;
    if (correctionMode != kCorrectNone)
        rects = documentsForMode(detectDocuments(in), correctionMode);
    applyShootingType(in, out, shootingType);
    if (drawOutlines && !rects.empty()) {
        if (out.data == in.data)
            out = in.clone();
        drawDocumentOutlines(out, rects, correctionMode == kCorrectSingle);
    }
    return rects;
}

QImage rotateQuarterTurns(const QImage &picture, int rotationIndex)
{
    if (rotationIndex < 1 || rotationIndex > 3)
        return picture;
    QTransform matrix;
    matrix.rotate(90.0 * rotationIndex);
    return picture.transformed(matrix, Qt::SmoothTransformation);
}

int nextRotationIndex(int rotationIndex, int step)
{
    if (step == 0)
        rotationIndex += 2;
    else if (step == 1 || step == -1)
        rotationIndex += step;
    if (rotationIndex == 4)
        return 0;
    if (rotationIndex == 5)
        return 1;
    if (rotationIndex == -1)
        return 3;
    return rotationIndex;
}
