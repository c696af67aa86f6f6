#include "scenes/printedsheet.h"

#include "scenes/deskscene.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

QStringList sampleTextLines()
{
    return {
        QStringLiteral("文档扫描与文字识别测试页"),
        QStringLiteral("老师把小册子的每一页放在镜头下面。"),
        QStringLiteral("翻页以后程序自动拍摄一张照片，"),
        QStringLiteral("最后合并成一个可以搜索的文件。"),
        QStringLiteral("The quick brown fox jumps over the lazy dog."),
        QStringLiteral("Searchable documents save time for archivists."),
        QStringLiteral("会议时间：2024年5月17日上午9点30分"),
        QStringLiteral("地点：北京市海淀区图书馆三楼阅览室"),
        QStringLiteral("Page 12 of 48, chapter three: results"),
        QStringLiteral("请在离开前关闭所有电器并锁好门窗。"),
    };
}

cv::Mat drawPrintedSheet(cv::Size frameSize, const QStringList &lines, float angle, unsigned seed)
{
    // An A4 sheet filling most of the frame's height.
    const int pageHeight = cvRound(frameSize.height * 0.86);
    const int pageWidth = cvRound(pageHeight / std::sqrt(2.0));
    QImage page(pageWidth, pageHeight, QImage::Format_RGB888);
    page.fill(QColor(240, 238, 236));
    {
        QPainter painter(&page);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPixelSize(std::max(8, pageHeight / 64));
        painter.setFont(font);
        painter.setPen(QColor(30, 30, 34));
        const int margin = pageWidth / 10;
        const int step = font.pixelSize() * 2;
        int y = margin + step;
        for (const QString &line : lines) {
            painter.drawText(margin, y, line);
            y += step;
        }
    }
    const cv::Mat pageRgb(page.height(), page.width(), CV_8UC3, page.bits(), page.bytesPerLine());
    cv::Mat pageBgr;
    cv::cvtColor(pageRgb, pageBgr, cv::COLOR_RGB2BGR);

    cv::Mat frame = drawDeskScene(frameSize, {}, seed);
    const cv::Point2f centre(frameSize.width / 2.0f, frameSize.height / 2.0f);
    cv::Mat place = cv::getRotationMatrix2D(cv::Point2f(pageWidth / 2.0f, pageHeight / 2.0f), angle, 1.0);
    place.at<double>(0, 2) += centre.x - pageWidth / 2.0;
    place.at<double>(1, 2) += centre.y - pageHeight / 2.0;
    cv::warpAffine(pageBgr, frame, place, frameSize, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);

    cv::GaussianBlur(frame, frame, cv::Size(0, 0), 0.8);
    cv::Mat noisy, noise(frameSize, CV_16SC3);
    frame.convertTo(noisy, CV_16SC3);
    cv::RNG rng(seed + 1);
    rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(3.0));
    noisy += noise;
    noisy.convertTo(frame, CV_8UC3);
    return frame;
}
