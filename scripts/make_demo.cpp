// Writes the demo desk scene as a short Motion-JPEG AVI, through a temporary
// name so that an interrupted build never leaves a broken file in place.
#include "scenes/deskscene.h"

#include <opencv2/videoio.hpp>

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.avi\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const std::string tmp = out + ".part.avi";
    const cv::Size size(1920, 1080);
    constexpr double kFps = 30.0;
    constexpr int kFrames = 90;

    cv::VideoWriter writer(tmp, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps, size, true);
    writer.set(cv::VIDEOWRITER_PROP_QUALITY, 70);
    if (!writer.isOpened()) {
        std::fprintf(stderr, "cannot write %s\n", tmp.c_str());
        return 1;
    }
    for (int i = 0; i < kFrames; ++i) {
        std::vector<DeskSheet> sheets = demoSheets(size);
        // The turned sheet drifts a little so the picture is visibly live.
        sheets[1].centre.x += static_cast<float>(i % 45 < 23 ? i % 45 : 45 - i % 45) * 2.0f;
        writer.write(drawDeskScene(size, sheets, static_cast<unsigned>(i + 1)));
    }
    writer.release();
    if (std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::perror("rename");
        return 1;
    }
    return 0;
}
