#include "engine/imageprocessing.h"

#include "app/cache.h"
#include "app/logging.h"
#include "engine/detection.h"
#include "engine/frameconversion.h"
#include "engine/pipeline.h"
#include "engine/preview.h"
#include "sanitizers/tsanhandover.h"

#include <algorithm>
#include <utility>

namespace {

quint64 packSize(QSize size)
{
    if (size.isEmpty())
        return 0;
    return static_cast<quint64>(size.width()) << 32 | static_cast<quint32>(size.height());
}

cv::Size unpackSize(quint64 packed)
{
    return cv::Size(static_cast<int>(packed >> 32), static_cast<int>(packed & 0xffffffffu));
}

// Whether someone besides `mat` itself holds its pixels.
bool shared(const cv::Mat &mat)
{
    return mat.u && CV_XADD(&mat.u->refcount, 0) > 1;
}

} // namespace

ImageProcessing::ImageProcessing(QObject *parent)
    : QThread(parent),
      m_device(CameraDevice::Events{[this] {
                                        tsanhandover::CrossThreadEmit handOver;
                                        emit closeCameraSignal();
                                    },
                                    [this](const QString &message) {
                                        tsanhandover::CrossThreadEmit handOver;
                                        emit cameraErrorSignal(message);
                                    }})
{
    qRegisterMetaType<QList<QString>>("QList<QString>");
    tsanhandover::install();
}

ImageProcessing::~ImageProcessing()
{
    if (isRunning()) {
        end();
        wait();
    }
    // Orders the loop's last accesses before the members are destroyed.
    m_loopEnded.load(std::memory_order_acquire);
    m_photos.finish();
}

void ImageProcessing::dispose(ImageProcessing *session)
{
    if (!session)
        return;
    // A parent must not delete it while its thread still runs.
    session->setParent(nullptr);
    connect(session, &QThread::finished, session, &QObject::deleteLater);
    connect(session, &QThread::finished, session, [] { tsanhandover::threadEnds(); }, Qt::DirectConnection);
    session->end();
    if (session->wait(0)) {
        tsanhandover::threadEnded();
        delete session;
    }
}

void ImageProcessing::setFrameSourceFactory(FrameSourceFactory factory)
{
    m_device.setFrameSourceFactory(std::move(factory));
}

void ImageProcessing::begin()
{
    m_running.store(true, std::memory_order_release);
    m_device.markNotReading();
    start(InheritPriority);
}

void ImageProcessing::end()
{
    m_running.store(false, std::memory_order_release);
    m_device.markNotReading();
    quit();
    wait(kEndWaitMs);
}

void ImageProcessing::run()
{
    cv::Mat buffer;
    while (m_running.load(std::memory_order_acquire)) {
        if (m_takePhotoRequest.exchange(false, std::memory_order_acq_rel))
            takePhoto();
        if (m_device.takeReopenRequest()) {
            closeCamara(false);
            openCamara();
        }
        m_device.servePendingCommand();
        if (!m_device.isOpen()) {
            msleep(kIdlePauseMs);
            continue;
        }
        CapturedFrame frame;
        if (!readFrame(buffer, frame)) {
            // A failed read pauses like an idle pass instead of spinning, and
            // a camera silent for too long is opened again (it may be back).
            if (m_device.stalled())
                m_device.reopenAfterStall();
            msleep(kIdlePauseMs);
            continue;
        }
        m_device.frameArrived();
        CapturedFrame old = m_slot.frame();
        m_slot.publishFrame(frame);
        feedSink(frame);
        showFrame(frame);
        recycle(std::move(old), buffer);
    }
    m_loopEnded.store(true, std::memory_order_release);
}

bool ImageProcessing::readFrame(cv::Mat &buffer, CapturedFrame &frame)
{
    bool jpeg = false;
    quint64 generation = 0;
    if (!m_device.read(buffer, jpeg, generation))
        return false;
    const cv::Size size = jpeg ? jpegPictureSize(buffer.ptr(), buffer.total() * buffer.elemSize()) : buffer.size();
    if (size.empty()) {
        qCDebug(lcCapture) << "the camera gave a frame that is no picture; skipped";
        return false;
    }
    frame.data = std::move(buffer);
    buffer = cv::Mat();
    frame.jpeg = jpeg;
    frame.size = size;
    frame.generation = generation;
    return true;
}

void ImageProcessing::recycle(CapturedFrame &&old, cv::Mat &buffer)
{
    // The frame just replaced becomes the next read buffer, unless someone
    // still shares it (a photograph, a recording, a caller of currentFrame).
    cv::Mat data = std::move(old.data);
    old = CapturedFrame();
    if (!shared(data))
        buffer = std::move(data);
}

void ImageProcessing::feedSink(const CapturedFrame &frame)
{
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    if (m_sink)
        m_sink->frameCaptured(frame);
}

void ImageProcessing::setFrameSink(FrameSink *sink)
{
    std::lock_guard<std::mutex> lock(m_sinkMutex);
    m_sink = sink;
}

void ImageProcessing::setPreviewSize(QSize shown)
{
    m_previewSize.store(packSize(shown));
}

void ImageProcessing::showFrame(const CapturedFrame &frame)
{
    const bool watching = m_watchPageTurns.load(std::memory_order_acquire);
    int factor = 1;
    if (frame.jpeg && m_reducedDecoding.load()) {
        factor = previewReduction(frame.size, unpackSize(m_previewSize.load()));
        if (watching)
            factor = std::min(factor, pageTurnReduction(frame.size));
    }
    QImage picture;
    try {
        const cv::Mat decoded = frame.decoded(factor);
        if (decoded.empty()) {
            qCDebug(lcCapture) << "a camera frame did not decode; skipped";
            return;
        }
        if (watching)
            watchPageTurns(decoded);
        const cv::Mat processed = renderPreview(decoded, factor, m_correctionMode.load(std::memory_order_relaxed),
                                                m_shootingType.load(std::memory_order_relaxed));
        picture = handleQImage(MatQImage(processed));
    } catch (const cv::Exception &e) {
        qCDebug(lcCapture) << "frame processing failed:" << e.what();
        return;
    }
    if (m_slot.publishPreview(picture, frame.generation)) {
        tsanhandover::CrossThreadEmit handOver;
        QMetaObject::invokeMethod(this, &ImageProcessing::deliverPreview, Qt::QueuedConnection);
    }
}

void ImageProcessing::deliverPreview()
{
    // Pictures read before the user last closed or changed the camera are dropped.
    const QImage picture = m_slot.takePreview(m_device.generation());
    if (!picture.isNull())
        emit sendFarmeSignal(picture);
}

void ImageProcessing::watchPageTurns(const cv::Mat &picture)
{
    if (m_resetPageTurns.exchange(false, std::memory_order_acq_rel))
        m_pageTurns.reset();
    cv::Mat reference;
    {
        std::lock_guard<std::mutex> lock(m_referenceMutex);
        reference = std::exchange(m_pendingReference, cv::Mat());
    }
    if (!reference.empty())
        m_pageTurns.setReference(reference);
    if (m_pageTurns.feed(picture)) {
        tsanhandover::CrossThreadEmit handOver;
        emit pageTurnedSignal();
    }
}

void ImageProcessing::setWatchPageTurns(bool on)
{
    if (on && !m_watchPageTurns.load())
        m_resetPageTurns.store(true, std::memory_order_release);
    m_watchPageTurns.store(on, std::memory_order_release);
}

cv::Mat ImageProcessing::currentFrame() const
{
    return m_slot.frame().decoded();
}

QImage ImageProcessing::fullSizePicture() const
{
    const cv::Mat frame = currentFrame();
    cv::Mat processed;
    handleMat(frame, processed, true);
    return handleQImage(MatQImage(processed));
}

void ImageProcessing::openCamara()
{
    if (onCaptureThread())
        m_device.openOnLoop();
    else
        m_device.openFromGui();
}

void ImageProcessing::closeCamara(bool)
{
    if (onCaptureThread())
        m_device.closeOnLoop();
    else
        m_device.closeFromGui();
}

void ImageProcessing::videoParameterSettings()
{
    m_device.configureNow();
}

void ImageProcessing::setCameraExposure(int value)
{
    m_device.setExposure(value);
}

void ImageProcessing::reConfigVideoSetting()
{
    const ConfigValues settings = Cache::config->snapshot();
    const QSize size = chosenFrameSize(*Cache::cameras, settings.cameraIndex, settings.imageResolution);
    if (!size.isValid()) {
        qCDebug(lcCamera) << "no capture size for camera/index" << settings.cameraIndex << "; nothing reopened";
        return;
    }
    m_device.requestReopen(size.width(), size.height());
}

void ImageProcessing::setCameraResolution(QSize size)
{
    m_device.requestReopen(size.width(), size.height());
}

void ImageProcessing::setFrameWidth(int width)
{
    m_device.setFrameWidth(width);
}

void ImageProcessing::setFrameHeight(int height)
{
    m_device.setFrameHeight(height);
}

void ImageProcessing::setFrameWidthAndHeight(int width, int height)
{
    m_device.setFrameSize(width, height);
}

void ImageProcessing::setAngle(int step)
{
    // Only the GUI thread changes the index, so load-then-store cannot lose a step.
    m_angle.store(nextRotationIndex(m_angle.load(std::memory_order_relaxed), step), std::memory_order_relaxed);
}

void ImageProcessing::setCameraCorrection(int mode)
{
    m_correctionMode.store(mode, std::memory_order_relaxed);
}

void ImageProcessing::setCameraShootType(int type)
{
    m_shootingType.store(type, std::memory_order_relaxed);
}

void ImageProcessing::setTakePhotoChildCamera(bool on)
{
    m_pictureInPicture.store(on);
}

void ImageProcessing::setSaveImageToTiff(bool on)
{
    m_saveAsTiff.store(on);
}

void ImageProcessing::setTakePhotoCammond(QImage first, QImage second, bool firstPresent, bool secondPresent)
{
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        m_request.first = std::move(first);
        m_request.second = std::move(second);
        m_request.firstPresent = firstPresent;
        m_request.secondPresent = secondPresent;
    }
    m_takePhotoRequest.store(true, std::memory_order_release);
}

void ImageProcessing::takePhoto()
{
    PhotoJob job;
    job.frame = m_slot.frame();
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        job.request = m_request;
    }
    job.options.correctionMode = m_correctionMode.load();
    job.options.shootingType = m_shootingType.load();
    job.options.rotation = m_angle.load();
    job.options.pictureInPicture = m_pictureInPicture.load();
    job.options.saveAsTiff = m_saveAsTiff.load();
    job.settings = Cache::config->snapshot();
    job.outputSizes = Cache::config->outputSizes;
    job.watchingPageTurns = m_watchPageTurns.load(std::memory_order_acquire);
    m_photos.post([this, job = std::move(job)] { writePhoto(job); });
}

void ImageProcessing::writePhoto(const PhotoJob &job)
{
    PhotoResult result;
    cv::Mat frame;
    try {
        frame = job.frame.decoded();
        if (!job.frame.empty() && frame.empty())
            result.errors << tr("摄像头的画面无法解码，照片未保存");
    } catch (const std::exception &e) {
        result.errors << tr("处理画面时出错，照片未保存：%1").arg(QString::fromLocal8Bit(e.what()));
    }
    if (result.errors.isEmpty()) {
        // Numbers are taken here; one job at a time keeps them in click order.
        Config *config = Cache::config;
        result = capturePhotos(frame, job.options, job.request, job.settings, job.outputSizes,
                               [config] { return config->takeNextNumber(); });
    }
    // A page shot by hand is the page to compare the next turn with.
    if (job.watchingPageTurns && !result.written.isEmpty()) {
        std::lock_guard<std::mutex> lock(m_referenceMutex);
        m_pendingReference = frame;
    }
    if (!result.errors.isEmpty()) {
        const QString message = result.errors.join(QLatin1Char('\n'));
        tsanhandover::CrossThreadEmit handOver;
        emit photoFailedSignal(message);
    }
    tsanhandover::CrossThreadEmit handOver;
    emit sendTakePhotoImageSignal(result.written, 0);
}

QImage ImageProcessing::MatQImage(const cv::Mat &mat) const
{
    return matToQImage(mat);
}

std::vector<cv::RotatedRect> ImageProcessing::findSquares(const cv::Mat &frame) const
{
    const DetectedDocuments found = detectDocuments(frame);
    return documentsForMode(found, m_correctionMode.load(std::memory_order_relaxed));
}

std::vector<cv::RotatedRect> ImageProcessing::handleMat(const cv::Mat &in, cv::Mat &out, bool drawOutlines) const
{
    if (in.empty()) {
        out.release();
        return {};
    }
    try {
        return processFrame(in, out, m_correctionMode.load(std::memory_order_relaxed),
                            m_shootingType.load(std::memory_order_relaxed), drawOutlines);
    } catch (const cv::Exception &e) {
        qCDebug(lcCapture) << "frame processing failed:" << e.what();
        out.release();
        return {};
    }
}

QImage ImageProcessing::handleQImage(QImage picture) const
{
    return rotateQuarterTurns(picture, m_angle.load(std::memory_order_relaxed));
}
