#include "simframes.h"

#include "scenes/deskscene.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <linux/videodev2.h>

namespace {

constexpr int kJpegQuality = 85;

uint8_t clampByte(double v)
{
    return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
}

std::vector<uint8_t> packYuyv(const cv::Mat &bgr)
{
    std::vector<uint8_t> out(static_cast<size_t>(bgr.cols) * bgr.rows * 2);
    uint8_t *o = out.data();
    for (int y = 0; y < bgr.rows; ++y) {
        const cv::Vec3b *row = bgr.ptr<cv::Vec3b>(y);
        for (int x = 0; x + 1 < bgr.cols; x += 2) {
            double luma[2], cb = 0, cr = 0;
            for (int k = 0; k < 2; ++k) {
                const double b = row[x + k][0], g = row[x + k][1], r = row[x + k][2];
                luma[k] = 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255;
                cb += 128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
                cr += 128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255;
            }
            *o++ = clampByte(luma[0]);
            *o++ = clampByte(cb / 2);
            *o++ = clampByte(luma[1]);
            *o++ = clampByte(cr / 2);
        }
    }
    return out;
}

} // namespace

std::vector<uint8_t> encodeDeskFrame(uint32_t pixelFormat, int width, int height, unsigned seed)
{
    const cv::Size size(width, height);
    const cv::Mat scene = drawDeskScene(size, demoSheets(size), seed);
    if (pixelFormat == V4L2_PIX_FMT_YUYV)
        return packYuyv(scene);
    std::vector<uint8_t> jpeg;
    cv::imencode(".jpg", scene, jpeg, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality});
    return jpeg;
}
