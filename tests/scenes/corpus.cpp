#include "scenes/corpus.h"

#include "engine/detection.h"
#include "engine/photo.h"
#include "engine/pipeline.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kA4WidthInches = 210.0 / 25.4;
constexpr double kA4HeightInches = 297.0 / 25.4;
constexpr double kMarginInches = 1.0;
constexpr double kLineSpacing = 1.6; // of the type size
const QColor kPaper(250, 250, 248);
const QColor kInk(20, 20, 22);

// The photograph: how the page lies, the light and the camera's faults.
constexpr double kPageShareOfHeight = 0.92;
constexpr double kLargestTurn = 1.5; // degrees
constexpr double kDarkestCorner = 0.72;    // light falling off across the page
constexpr double kShadowDepth = 0.22;
constexpr double kFocusBlur = 0.9; // sigma in pixels
constexpr double kSensorNoise = 4.0;
constexpr int kJpegQuality = 85;

} // namespace

const std::vector<CorpusFace> &corpusFaces()
{
    static const std::vector<CorpusFace> faces = {{"uming", "AR PL UMing CN"},
                                                  {"notoserif", "Noto Serif CJK SC"},
                                                  {"ukai", "AR PL UKai CN"},
                                                  {"notosans", "Noto Sans CJK SC"},
                                                  {"wqy", "WenQuanYi Micro Hei"}};
    return faces;
}

QStringList corpusParagraphs()
{
    return {
        QStringLiteral("晋太元中，武陵人捕鱼为业。缘溪行，忘路之远近。忽逢桃花林，夹岸数百步，中无杂树，芳草鲜美，"
                       "落英缤纷。渔人甚异之，复前行，欲穷其林。林尽水源，便得一山，山有小口，仿佛若有光。"),
        QStringLiteral("便舍船，从口入。初极狭，才通人。复行数十步，豁然开朗。土地平旷，屋舍俨然，有良田美池桑竹之属。"
                       "阡陌交通，鸡犬相闻。其中往来种作，男女衣着，悉如外人。老人小儿，并怡然自乐。"),
        QStringLiteral("庆历四年春，滕子京谪守巴陵郡。越明年，政通人和，百废具兴。乃重修岳阳楼，增其旧制，"
                       "刻唐贤今人诗赋于其上，属予作文以记之。"),
        QStringLiteral("予观夫巴陵胜状，在洞庭一湖。衔远山，吞长江，浩浩汤汤，横无际涯；朝晖夕阴，气象万千。"
                       "此则岳阳楼之大观也，前人之述备矣。"),
        QStringLiteral("永和九年，岁在癸丑，暮春之初，会于会稽山阴之兰亭。群贤毕至，少长咸集。"
                       "此地有崇山峻岭，茂林修竹，又有清流激湍，映带左右，引以为流觞曲水，列坐其次。"),
        QStringLiteral("环滁皆山也。其西南诸峰，林壑尤美，望之蔚然而深秀者，琅琊也。山行六七里，渐闻水声潺潺，"
                       "而泻出于两峰之间者，酿泉也。峰回路转，有亭翼然临于泉上者，醉翁亭也。"),
        QStringLiteral("注：以上各篇选自 Guwen Guanzhi 第 7 卷，页码 128 至 135。"
                       "Edition 1895, reprinted 2019; ISBN 978 7 101 00001 3。"),
        QStringLiteral("先帝创业未半，今天下三分，益州疲弊，此诚危急存亡之秋也。然侍卫之臣不懈于内，"
                       "忠志之士忘身于外者，盖追先帝之殊遇，欲报之于陛下也。"),
    };
}

CorpusPage layOutPage(const CorpusFace &face, const QStringList &paragraphs, int dpi, double points)
{
    const QSize size(qRound(kA4WidthInches * dpi), qRound(kA4HeightInches * dpi));
    QImage image(size, QImage::Format_RGB32);
    image.fill(kPaper);
    QFont font(QString::fromLatin1(face.family));
    font.setPixelSize(std::max(6, qRound(points * dpi / 72.0)));
    const QFontMetricsF metrics(font);
    const double margin = kMarginInches * dpi;
    const double width = size.width() - 2 * margin;
    const double step = font.pixelSize() * kLineSpacing;
    const double indent = 2.0 * metrics.horizontalAdvance(QChar(0x4e00));

    CorpusPage page;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(font);
    painter.setPen(kInk);
    double y = margin + metrics.ascent();
    // Character by character; a Latin word may break across lines, as in narrow columns.
    for (int p = 0; p < paragraphs.size() && y + metrics.descent() <= size.height() - margin; ++p) {
        double start = indent, x = start; // the first line of a paragraph is indented
        QString line;
        for (int i = 0; i <= paragraphs[p].size() && y + metrics.descent() <= size.height() - margin; ++i) {
            const QChar c = i < paragraphs[p].size() ? paragraphs[p][i] : QChar();
            const double advance = c.isNull() ? 0.0 : metrics.horizontalAdvance(c);
            if (c.isNull() || x + advance > width) {
                painter.drawText(QPointF(margin + start, y), line);
                page.lines << line.trimmed();
                y += step;
                line.clear();
                start = x = 0.0;
            }
            line += c.isNull() ? QString() : QString(c);
            x += advance;
        }
    }
    painter.end();
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    cv::cvtColor(cv::Mat(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                         static_cast<size_t>(rgb.bytesPerLine())),
                 page.picture, cv::COLOR_RGB2BGR);
    return page;
}

namespace {

cv::Mat photographPage(const cv::Mat &page, cv::Size frameSize, DeskSurface desk, unsigned seed,
                       cv::RotatedRect *outline)
{
    cv::RNG rng(seed * 2654435761u + 17u);
    cv::Mat frame = drawDesk(frameSize, desk, seed);
    // Scaled to fill most of the height (area-averaged, so that fine print
    // is not aliased), turned a little, a little off centre.
    const double scale = kPageShareOfHeight * frameSize.height / page.rows;
    cv::Mat smaller;
    cv::resize(page, smaller, cv::Size(), scale, scale, cv::INTER_AREA);
    const cv::RotatedRect placed(cv::Point2f(frameSize.width * static_cast<float>(rng.uniform(0.47, 0.53)),
                                             frameSize.height / 2.0f),
                                 smaller.size(), static_cast<float>(rng.uniform(-kLargestTurn, kLargestTurn)));
    cv::Mat place = cv::getRotationMatrix2D(cv::Point2f(smaller.cols / 2.0f, smaller.rows / 2.0f), -placed.angle, 1.0);
    place.at<double>(0, 2) += placed.center.x - smaller.cols / 2.0;
    place.at<double>(1, 2) += placed.center.y - smaller.rows / 2.0;
    cv::warpAffine(smaller, frame, place, frameSize, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
    *outline = placed;

    // Light falling off towards one corner, and a soft shadow across the page.
    cv::Mat light(frameSize, CV_32F);
    const cv::Point2d bright(rng.uniform(0, frameSize.width), rng.uniform(0, frameSize.height));
    const double reach = std::hypot(frameSize.width, frameSize.height);
    const double shadowX = rng.uniform(0.2, 0.8) * frameSize.width;
    const double shadowSlope = rng.uniform(-0.4, 0.4);
    const double shadowSoftness = 0.04 * frameSize.width;
    for (int y = 0; y < frameSize.height; ++y) {
        float *row = light.ptr<float>(y);
        for (int x = 0; x < frameSize.width; ++x) {
            const double falloff = 1.0 - (1.0 - kDarkestCorner) * std::hypot(x - bright.x, y - bright.y) / reach;
            const double edge = (x - shadowX - shadowSlope * y) / shadowSoftness;
            const double shadow = kShadowDepth / (1.0 + std::exp(-edge));
            row[x] = static_cast<float>(falloff * (1.0 - shadow));
        }
    }
    cv::Mat lit;
    frame.convertTo(lit, CV_32FC3);
    cv::Mat light3;
    cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
    lit = lit.mul(light3);
    cv::GaussianBlur(lit, lit, cv::Size(0, 0), kFocusBlur);
    cv::Mat noise(frameSize, CV_32FC3);
    rng.fill(noise, cv::RNG::NORMAL, cv::Scalar::all(0), cv::Scalar::all(kSensorNoise));
    lit += noise;
    lit.convertTo(frame, CV_8UC3);

    std::vector<uchar> jpeg;
    cv::imencode(".jpg", frame, jpeg, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality});
    return cv::imdecode(jpeg, cv::IMREAD_COLOR);
}

} // namespace

cv::Mat capturedPage(const cv::Mat &page, Capture capture, DeskSurface desk, unsigned seed)
{
    if (capture == Capture::Clean)
        return page.clone();
    // An 8 megapixel document camera.
    const cv::Size frameSize(3264, 2448);
    cv::RotatedRect outline;
    const cv::Mat photo = photographPage(page, frameSize, desk, seed, &outline);
    cv::Mat treated = photo;
    if (capture == Capture::Bw)
        applyShootingType(photo, treated, kShootBlackWhite);
    return extractDocument(treated, toLegacyAngle(outline));
}
