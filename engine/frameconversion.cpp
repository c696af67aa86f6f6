#include "engine/frameconversion.h"

#include "engine/capturedframe.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
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

// JPEG markers that stand alone, without a length: TEM and the restart markers.
bool standalone(uchar marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// Start-of-frame markers (SOF0 to SOF15 less DHT, JPG and DAC) carry the size.
bool startOfFrame(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

constexpr uchar kMarkerPrefix = 0xFF;
constexpr uchar kStartOfImage = 0xD8;
constexpr uchar kStartOfScan = 0xDA;
constexpr int kReductions[] = {8, 4, 2};

int ceilDiv(int a, int b)
{
    return (a + b - 1) / b;
}

} // namespace

cv::Size jpegPictureSize(const uchar *bytes, size_t count)
{
    if (count < 4 || bytes[0] != kMarkerPrefix || bytes[1] != kStartOfImage)
        return {};
    size_t at = 2;
    while (at + 4 <= count) {
        if (bytes[at] != kMarkerPrefix)
            return {};
        const uchar marker = bytes[at + 1];
        if (marker == kMarkerPrefix) { // fill byte
            ++at;
            continue;
        }
        if (standalone(marker)) {
            at += 2;
            continue;
        }
        const size_t length = static_cast<size_t>(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length < 2 || marker == kStartOfScan)
            return {};
        if (startOfFrame(marker)) {
            // Length, precision, height, width.
            if (at + 9 > count)
                return {};
            const int height = bytes[at + 5] << 8 | bytes[at + 6];
            const int width = bytes[at + 7] << 8 | bytes[at + 8];
            return width > 0 && height > 0 ? cv::Size(width, height) : cv::Size();
        }
        at += 2 + length;
    }
    return {};
}

cv::Mat decodeJpeg(const cv::Mat &bytes, int factor)
{
    int flags = cv::IMREAD_COLOR;
    switch (factor) {
    case 2:
        flags = cv::IMREAD_REDUCED_COLOR_2;
        break;
    case 4:
        flags = cv::IMREAD_REDUCED_COLOR_4;
        break;
    case 8:
        flags = cv::IMREAD_REDUCED_COLOR_8;
        break;
    default:
        break;
    }
    try {
        return cv::imdecode(bytes, flags);
    } catch (const cv::Exception &) {
        return {};
    }
}

int previewReduction(cv::Size frame, cv::Size shown)
{
    if (frame.empty() || shown.empty())
        return 1;
    // The fitted size, computed as the preview computes it.
    const double aspect = static_cast<double>(frame.width) / frame.height;
    const int w0 = std::min(shown.width, frame.width);
    const int h = std::min(shown.height, static_cast<int>(w0 / aspect));
    const int w = static_cast<int>(h * aspect);
    for (const int factor : kReductions) {
        if (ceilDiv(frame.width, factor) >= w && ceilDiv(frame.height, factor) >= h)
            return factor;
    }
    return 1;
}

cv::Mat CapturedFrame::decoded() const
{
    return decoded(1);
}

cv::Mat CapturedFrame::decoded(int factor) const
{
    if (!jpeg)
        return data;
    return decodeJpeg(data, factor);
}

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
