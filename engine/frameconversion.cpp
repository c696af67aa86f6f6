#include "engine/frameconversion.h"

#include <opencv2/imgproc.hpp>

#include <cstring>

namespace {

const QVector<QRgb> &greyTable()
{
    static const QVector<QRgb> table = [] {
        QVector<QRgb> t(256);
        for (int i = 0; i < 256; ++i)
            t[i] = qRgb(i, i, i);
        return t;
    }();
    return table;
}

} // namespace

QImage matToQImage(const cv::Mat &mat)
{
    if (mat.empty() || mat.dims != 2)
        return {};
    switch (mat.type()) {
    case CV_8UC1: {
        QImage image(mat.cols, mat.rows, QImage::Format_Indexed8);
        if (image.isNull())
            return image;
        image.setColorTable(greyTable());
        for (int y = 0; y < mat.rows; ++y)
            std::memcpy(image.scanLine(y), mat.ptr(y), static_cast<size_t>(mat.cols));
        return image;
    }
    case CV_8UC3: {
        // Written straight into the image's own buffer: one pass, no intermediate copy.
        QImage image(mat.cols, mat.rows, QImage::Format_RGB888);
        if (image.isNull())
            return image;
        cv::Mat target(mat.rows, mat.cols, CV_8UC3, image.bits(), static_cast<size_t>(image.bytesPerLine()));
        cv::cvtColor(mat, target, cv::COLOR_BGR2RGB);
        return image;
    }
    case CV_8UC4: {
        QImage image(mat.cols, mat.rows, QImage::Format_ARGB32);
        if (image.isNull())
            return image;
        cv::Mat target(mat.rows, mat.cols, CV_8UC4, image.bits(), static_cast<size_t>(image.bytesPerLine()));
        mat.copyTo(target);
        return image;
    }
    default:
        return {};
    }
}
