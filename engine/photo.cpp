#include "engine/photo.h"

#include "app/logging.h"
#include "engine/frameconversion.h"
#include "engine/photonaming.h"
#include "engine/pipeline.h"
#include "engine/watermark.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

namespace {

QString noPictureYet()
{
    return QCoreApplication::translate("Photo", "还没有画面，无法拍照");
}

// The fixed-point steps cv::warpAffine uses to turn matrix coordinates into
// remap tables; the region warp below repeats them so that its pixels are the
// ones the whole-picture warp gives.
constexpr int kAbBits = 10;
constexpr int kAbScale = 1 << kAbBits;
constexpr int kInterBits = 5;
constexpr int kInterTabSize = 1 << kInterBits;
constexpr int kRoundDelta = kAbScale / kInterTabSize / 2;
// Pixels kept around the patch that cv::getRectSubPix reads.
constexpr int kPatchMargin = 2;

struct CutOutGeometry {
    cv::Size size;
    cv::Point2f centre;
    float angle = 0.0f;
};

// The smallest turn that sets the document's sides parallel to the edges.
CutOutGeometry cutOutGeometry(const cv::RotatedRect &rect)
{
    CutOutGeometry g;
    g.size = cv::Size(cvRound(rect.size.width), cvRound(rect.size.height));
    g.centre = rect.center;
    g.angle = rect.angle;
    if (g.angle < -45.0f) {
        g.angle += 90.0f;
        std::swap(g.size.width, g.size.height);
    }
    return g;
}

// The matrix cv::warpAffine applies to map output pixels back to input pixels.
void inverseAffine(const cv::Mat &forward, double m[6])
{
    cv::Mat view(2, 3, CV_64F, m);
    forward.convertTo(view, CV_64F);
    double d = m[0] * m[4] - m[1] * m[3];
    d = d != 0 ? 1. / d : 0;
    const double a11 = m[4] * d;
    const double a22 = m[0] * d;
    m[0] = a11;
    m[1] *= -d;
    m[3] *= -d;
    m[4] = a22;
    const double b1 = -m[0] * m[2] - m[1] * m[5];
    const double b2 = -m[3] * m[2] - m[4] * m[5];
    m[2] = b1;
    m[5] = b2;
}

// The turned picture inside `region` only: the remap tables that warpAffine
// builds for these output pixels, handed to the same cubic remap.
cv::Mat warpRegion(const cv::Mat &src, const double m[6], const cv::Rect &region)
{
    std::vector<int> adelta(static_cast<size_t>(region.width));
    std::vector<int> bdelta(static_cast<size_t>(region.width));
    for (int i = 0; i < region.width; ++i) {
        const int x = region.x + i;
        adelta[static_cast<size_t>(i)] = cv::saturate_cast<int>(m[0] * x * kAbScale);
        bdelta[static_cast<size_t>(i)] = cv::saturate_cast<int>(m[3] * x * kAbScale);
    }
    cv::Mat xy(region.size(), CV_16SC2);
    cv::Mat alpha(region.size(), CV_16UC1);
    for (int j = 0; j < region.height; ++j) {
        const int y = region.y + j;
        const int x0 = cv::saturate_cast<int>((m[1] * y + m[2]) * kAbScale) + kRoundDelta;
        const int y0 = cv::saturate_cast<int>((m[4] * y + m[5]) * kAbScale) + kRoundDelta;
        short *xyRow = xy.ptr<short>(j);
        ushort *alphaRow = alpha.ptr<ushort>(j);
        for (int i = 0; i < region.width; ++i) {
            const int sx = (x0 + adelta[static_cast<size_t>(i)]) >> (kAbBits - kInterBits);
            const int sy = (y0 + bdelta[static_cast<size_t>(i)]) >> (kAbBits - kInterBits);
            xyRow[i * 2] = cv::saturate_cast<short>(sx >> kInterBits);
            xyRow[i * 2 + 1] = cv::saturate_cast<short>(sy >> kInterBits);
            alphaRow[i] = static_cast<ushort>((sy & (kInterTabSize - 1)) * kInterTabSize + (sx & (kInterTabSize - 1)));
        }
    }
    cv::Mat out;
    cv::remap(src, out, xy, alpha, cv::INTER_CUBIC, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    return out;
}

// Columns (or rows) that getRectSubPix reads for a patch of `length` pixels
// centred on `centre`, with a margin, within [0, limit).
std::pair<int, int> patchSpan(float centre, int length, int limit)
{
    const int first = cvFloor(centre - (length - 1) * 0.5f);
    return {std::max(0, first - kPatchMargin), std::min(limit - 1, first + length + kPatchMargin)};
}

} // namespace

QSize photoOutputSize(const QList<QSize> &outputSizes, int index)
{
    const QList<QSize> sizes = outputSizes.isEmpty() ? standardOutputSizes() : outputSizes;
    if (index >= 0 && index < sizes.size() && !sizes.at(index).isEmpty())
        return sizes.at(index);
    qCDebug(lcCapture) << "output size index" << index << "out of range; using the factory size";
    return standardOutputSizes().at(kFactoryOutResolution);
}

cv::Mat extractDocumentByFullWarp(const cv::Mat &processed, const cv::RotatedRect &rect)
{
    const CutOutGeometry g = cutOutGeometry(rect);
    if (g.size.width <= 0 || g.size.height <= 0 || processed.empty())
        return {};
    const cv::Mat matrix = cv::getRotationMatrix2D(g.centre, g.angle, 1.0);
    cv::Mat turned;
    cv::warpAffine(processed, turned, matrix, processed.size(), cv::INTER_CUBIC, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    cv::Mat cut;
    cv::getRectSubPix(turned, g.size, g.centre, cut, -1);
    return cut;
}

cv::Mat extractDocument(const cv::Mat &processed, const cv::RotatedRect &rect)
{
    const CutOutGeometry g = cutOutGeometry(rect);
    if (g.size.width <= 0 || g.size.height <= 0 || processed.empty())
        return {};
    const auto [left, right] = patchSpan(g.centre.x, g.size.width, processed.cols);
    const auto [top, bottom] = patchSpan(g.centre.y, g.size.height, processed.rows);
    // A patch wholly outside the picture is made of replicated edge pixels of
    // the whole turned picture; that rare case takes the plain way.
    if (right < left || bottom < top)
        return extractDocumentByFullWarp(processed, rect);

    double m[6];
    inverseAffine(cv::getRotationMatrix2D(g.centre, g.angle, 1.0), m);
    const cv::Rect region(left, top, right - left + 1, bottom - top + 1);
    const cv::Mat turned = warpRegion(processed, m, region);
    // Moving the centre by whole pixels is exact in float here (0 <= left <=
    // centre), so the patch is sampled with the same weights.
    cv::Mat cut;
    cv::getRectSubPix(turned, g.size, g.centre - cv::Point2f(static_cast<float>(left), static_cast<float>(top)), cut,
                      -1);
    return cut;
}

QImage cutOutDocument(const cv::Mat &processed, const cv::RotatedRect &rect, int rotation)
{
    const cv::Mat cut = extractDocument(processed, rect);
    if (cut.empty())
        return {};
    return rotateQuarterTurns(matToQImage(cut), rotation);
}

QImage wholePicture(const cv::Mat &processed, const QSize &outputSize, int rotation)
{
    const QImage picture = matToQImage(processed);
    if (picture.isNull())
        return {};
    return rotateQuarterTurns(picture.scaled(outputSize, Qt::KeepAspectRatio, Qt::SmoothTransformation), rotation);
}

QList<PhotoPicture> buildPhotoPictures(const cv::Mat &frame, const PhotoOptions &options, const CaptureRequest &request,
                                       const QSize &outputSize)
{
    QList<PhotoPicture> pictures;
    cv::Mat processed;
    const std::vector<cv::RotatedRect> rects =
        processFrame(frame, processed, options.correctionMode, options.shootingType, false);
    if (options.correctionMode == kCorrectNone) {
        pictures.append({wholePicture(processed, outputSize, options.rotation), noPictureYet()});
    } else if (options.correctionMode == kCorrectSingle || options.correctionMode == kCorrectMultiple) {
        for (const cv::RotatedRect &rect : rects)
            pictures.append({cutOutDocument(processed, rect, options.rotation),
                             QCoreApplication::translate("Photo", "画面中没有找到文档，未保存")});
    }
    if (!options.pictureInPicture) {
        if (request.firstPresent)
            pictures.append(
                {request.first, QCoreApplication::translate("Photo", "副摄像头%1还没有画面，未保存").arg(1)});
        if (request.secondPresent)
            pictures.append(
                {request.second, QCoreApplication::translate("Photo", "副摄像头%1还没有画面，未保存").arg(2)});
    }
    return pictures;
}

PhotoResult capturePhotos(const cv::Mat &frame, const PhotoOptions &options, const CaptureRequest &request,
                          const ConfigValues &settings, const QList<QSize> &outputSizes, const NumberSource &nextNumber)
{
    PhotoResult result;
    if (frame.empty()) {
        result.errors << noPictureYet();
        return result;
    }
    try {
        const QList<PhotoPicture> pictures =
            buildPhotoPictures(frame, options, request, photoOutputSize(outputSizes, settings.imageOutResolution));
        if (pictures.isEmpty())
            return result;

        const QString suffix = photoSuffix(settings.imageCodec, options.saveAsTiff);
        if (!canWriteImageFormat(suffix)) {
            result.errors << QCoreApplication::translate("Photo", "不支持的图片格式“%1”，照片未保存").arg(suffix);
            return result;
        }
        const QString directory = QDir(settings.workDirectory()).absolutePath();
        const QString directoryError = ensureDirectory(directory);
        if (!directoryError.isEmpty()) {
            result.errors << directoryError;
            return result;
        }

        for (const PhotoPicture &picture : pictures) {
            if (picture.image.isNull()) {
                result.errors << picture.emptyMessage;
                continue;
            }
            const QImage painted =
                paintPhoto(picture.image, settings, request, options.pictureInPicture, QDateTime::currentDateTime());
            const SaveOutcome outcome = saveImageAsNewFile(painted, directory, suffix, settings.imageQuality,
                                                           configuredNames(settings, directory, suffix, nextNumber));
            if (outcome.error.isEmpty())
                result.written << outcome.path;
            else
                result.errors << outcome.error;
        }
    } catch (const cv::Exception &e) {
        result.errors << QCoreApplication::translate("Photo", "处理画面时出错，照片未保存：%1")
                             .arg(QString::fromStdString(e.what()));
    } catch (const std::bad_alloc &) {
        result.errors << QCoreApplication::translate("Photo", "内存不足，照片未保存");
    } catch (const std::exception &e) {
        result.errors
            << QCoreApplication::translate("Photo", "拍照时出错，照片未保存：%1").arg(QString::fromLocal8Bit(e.what()));
    }
    return result;
}
