#include "engine/imageprocessing.h"

#include "app/cache.h"
#include "engine/detection.h"
#include "engine/frameconversion.h"
#include "engine/pipeline.h"
#include "sanitizers/tsanhandover.h"
#include "engine/videodevicesource.h"

#include <QDebug>

#include <opencv2/videoio.hpp>

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>

// A read bounded by the back end returns before the loop would call it stalled.
static_assert(VideoDeviceSource::kReadTimeoutSec * 1000 < ImageProcessing::kStallReopenMs,
              "a single read must not outlast the stall limit");

namespace {

// Pixel formats indexed by image/fourcc; any other index leaves the camera's own.
const std::array<const char *, 8> kPixelFormats = {"MJPG", "YUYV", "MP42", "DIV3", "DIVX", "U263", "I263", "FLV1"};

// How long a GUI-side call may wait for the capture lock before it hands the
// work to the loop instead: a stalled camera can block a read for seconds.
constexpr int kGuiLockWaitMs = 100;

// Video4Linux2 menu values of CAP_PROP_AUTO_EXPOSURE on UVC cameras.
constexpr double kV4l2ExposureManual = 1.0;
constexpr double kV4l2ExposureAuto = 3.0;
// The exposure slider counts log2 seconds (-3 is 1/8 s); Video4Linux2's
// absolute exposure counts units of 100 microseconds.
constexpr double kV4l2ExposureUnitsPerSecond = 10000.0;
// Beyond these the value would not fit the driver's 32-bit control.
constexpr int kShortestLog2Seconds = -30;
constexpr int kLongestLog2Seconds = 16;

double v4l2Exposure(int log2Seconds)
{
    const int clamped = std::clamp(log2Seconds, kShortestLog2Seconds, kLongestLog2Seconds);
    return std::round(kV4l2ExposureUnitsPerSecond * std::ldexp(1.0, clamped));
}

// Takes the lock if it comes free within `ms` milliseconds (one try for 0).
bool lockWithin(std::mutex &mutex, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!mutex.try_lock()) {
        if (clock.elapsed() >= ms)
            return false;
        QThread::msleep(1);
    }
    return true;
}

const char *answer(bool ok)
{
    return ok ? "true" : "false";
}

qint64 steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

ImageProcessing::ImageProcessing(QObject *parent) : QThread(parent), m_factory(makeFrameSource)
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
    // The loop has ended; the locks order these last accesses after its final ones.
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (m_capture)
        m_capture->release();
    m_capture.reset();
}

void ImageProcessing::setFrameSourceFactory(FrameSourceFactory factory)
{
    m_factory = std::move(factory);
}

void ImageProcessing::begin()
{
    m_running.store(true, std::memory_order_release);
    m_cameraOpen.store(false, std::memory_order_release);
    start(InheritPriority);
}

void ImageProcessing::end()
{
    m_running.store(false, std::memory_order_release);
    m_cameraOpen.store(false, std::memory_order_release);
    quit();
    wait(kEndWaitMs);
}

void ImageProcessing::run()
{
    while (m_running.load(std::memory_order_acquire)) {
        if (m_takePhotoRequest.exchange(false, std::memory_order_acq_rel))
            takePhoto();
        if (m_reopenRequest.exchange(false, std::memory_order_acq_rel)) {
            {
                // A request the GUI thread made after this one wins over it.
                std::lock_guard<std::mutex> lock(m_commandMutex);
                m_loopGeneration = m_reopenGeneration;
            }
            m_busyReported.store(false);
            closeCamara(false);
            openCamara();
        }
        servePendingCommand();
        if (!m_cameraOpen.load(std::memory_order_acquire)) {
            msleep(kIdlePauseMs);
            continue;
        }
        cv::Mat frame = std::move(m_readBuffer);
        if (!readFrame(frame)) {
            // A failed read pauses like an idle pass instead of spinning, and
            // a camera silent for too long is opened again (it may be back).
            m_readBuffer = frame;
            if (stalled())
                reopenAfterStall();
            msleep(kIdlePauseMs);
            continue;
        }
        m_lastFrameMs.store(steadyNowMs());
        m_busyReported.store(false);
        publishFrame(frame);
        watchPageTurns();

        cv::Mat processed;
        handleMat(m_currentFrame, processed, true);
        const QImage picture = handleQImage(MatQImage(processed));
        tsanhandover::CrossThreadEmit handOver;
        emit sendFarmeSignal(picture);
    }
    m_loopEnded.store(true, std::memory_order_release);
}

void ImageProcessing::watchPageTurns()
{
    if (!m_watchPageTurns.load(std::memory_order_acquire))
        return;
    if (m_resetPageTurns.exchange(false, std::memory_order_acq_rel))
        m_pageTurns.reset();
    if (m_pageTurns.feed(m_currentFrame)) {
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

bool ImageProcessing::readFrame(cv::Mat &frame)
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (m_hasPendingExposure.exchange(false) && m_capture)
        applyExposure(*m_capture, m_pendingExposure.load());
    // The flag is checked again under the lock: a close may have begun.
    if (!m_capture || !m_cameraOpen.load(std::memory_order_acquire))
        return false;
    bool ok = false;
    try {
        ok = m_capture->read(frame) && !frame.empty();
    } catch (const cv::Exception &e) {
        qDebug() << "camera read failed:" << e.what();
    }
    if (!ok)
        reportIfBusy(*m_capture);
    return ok;
}

void ImageProcessing::publishFrame(cv::Mat &frame)
{
    {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        std::swap(m_currentFrame, frame);
    }
    // The old frame becomes the next read buffer, unless someone still shares
    // its pixels (a recording or a caller of currentFrame): then leave it to them.
    if (frame.u && CV_XADD(&frame.u->refcount, 0) > 1)
        frame.release();
    m_readBuffer = std::move(frame);
}

cv::Mat ImageProcessing::currentFrame() const
{
    std::lock_guard<std::mutex> lock(m_frameMutex);
    return m_currentFrame;
}

quint64 ImageProcessing::newGeneration()
{
    std::lock_guard<std::mutex> lock(m_commandMutex);
    return ++m_generation;
}

bool ImageProcessing::isNewest(quint64 generation)
{
    std::lock_guard<std::mutex> lock(m_commandMutex);
    return generation == m_generation;
}

std::optional<ImageProcessing::CameraCommand> ImageProcessing::openCommand()
{
    const int index = m_cameraIndex.load();
    if (index < 0 || index >= Cache::cameras->size()) {
        qDebug() << "camera index" << index << "is not in the list of" << Cache::cameras->size()
                 << "cameras; the camera stays closed";
        return std::nullopt;
    }
    if (m_frameWidth.load() > kMaxFrameWidth) {
        m_frameWidth.store(kMaxFrameWidth);
        m_frameHeight.store(kCappedFrameHeight);
    }
    CameraCommand command;
    command.open = true;
    command.camera = Cache::cameras->at(index);
    return command;
}

void ImageProcessing::submit(const CameraCommand &command)
{
    if (lockWithin(m_captureMutex, kGuiLockWaitMs)) {
        carryOutLocked(command);
        m_captureMutex.unlock();
        return;
    }
    // A read is blocked on the old camera: the loop carries this out when it
    // returns. Only the newest request is kept.
    qDebug() << "camera busy; the capture thread will change cameras after its read";
    std::lock_guard<std::mutex> lock(m_commandMutex);
    m_pendingCommand = command;
}

void ImageProcessing::servePendingCommand()
{
    std::lock_guard<std::mutex> capture(m_captureMutex);
    std::optional<CameraCommand> command;
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        command.swap(m_pendingCommand);
    }
    if (command)
        carryOutLocked(*command);
}

void ImageProcessing::carryOutLocked(const CameraCommand &command)
{
    // A newer request has been made (and is carried out, or pending): this one is void.
    if (!isNewest(command.generation))
        return;
    // The old camera goes first: a device still held by it would answer "busy".
    if (m_capture) {
        m_capture->release();
        m_capture.reset();
    }
    if (!command.open)
        return;

    // Open and close the device twice before the real open: some cameras only
    // report their controls correctly after such a wake-up.
    {
        std::unique_ptr<FrameSource> probe = m_factory(command.camera);
        const bool opened = probe->open();
        probe->release();
        if (opened) {
            std::unique_ptr<FrameSource> again = m_factory(command.camera);
            again->open();
            again->release();
        }
    }
    std::unique_ptr<FrameSource> source = m_factory(command.camera);
    if (!source->open()) {
        qDebug() << "camera" << command.camera.path << "did not open";
        reportIfBusy(*source);
    }
    configure(*source);
    m_capture = std::move(source);

    // Whoever opens sets the flag last, and only if no newer request came meanwhile.
    std::lock_guard<std::mutex> lock(m_commandMutex);
    if (command.generation == m_generation) {
        m_lastFrameMs.store(steadyNowMs());
        m_cameraOpen.store(true, std::memory_order_release);
    }
}

bool ImageProcessing::stalled() const
{
    return steadyNowMs() - m_lastFrameMs.load() >= kStallReopenMs;
}

void ImageProcessing::reopenAfterStall()
{
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        m_loopGeneration = m_generation;
    }
    qDebug() << "no frames from camera" << m_cameraIndex.load() << "for" << kStallReopenMs << "ms; opening it again";
    {
        tsanhandover::CrossThreadEmit handOver;
        emit closeCameraSignal();
    }
    openCamara();
    // Not opened (index gone, or a newer request won): wait another period before trying again.
    m_lastFrameMs.store(steadyNowMs());
}

void ImageProcessing::openCamara()
{
    std::optional<CameraCommand> command = openCommand();
    if (!command)
        return;
    if (onCaptureThread()) {
        // The loop's own reopen: it waits for the lock, and gives way to any
        // request the GUI thread made since the reopen began.
        command->generation = m_loopGeneration;
        std::lock_guard<std::mutex> lock(m_captureMutex);
        carryOutLocked(*command);
        return;
    }
    command->generation = newGeneration();
    m_busyReported.store(false);
    submit(*command);
}

void ImageProcessing::reportIfBusy(const FrameSource &source)
{
    if (source.lastError() != EBUSY || m_busyReported.exchange(true))
        return;
    const int index = m_cameraIndex.load();
    const QString name = index >= 0 && index < Cache::cameras->size() ? Cache::cameras->at(index).name : QString();
    const QString message = QStringLiteral("摄像头“%1”正被其他程序占用，请关闭占用它的程序后再试。").arg(name);
    tsanhandover::CrossThreadEmit handOver;
    emit cameraErrorSignal(message);
}

void ImageProcessing::closeCamara(bool)
{
    CameraCommand command;
    if (onCaptureThread()) {
        command.generation = m_loopGeneration;
        {
            std::lock_guard<std::mutex> lock(m_commandMutex);
            if (command.generation == m_generation)
                m_cameraOpen.store(false, std::memory_order_release);
        }
        msleep(kClosePauseMs);
        std::lock_guard<std::mutex> lock(m_captureMutex);
        carryOutLocked(command);
    } else {
        {
            std::lock_guard<std::mutex> lock(m_commandMutex);
            command.generation = ++m_generation;
            m_cameraOpen.store(false, std::memory_order_release);
        }
        msleep(kClosePauseMs);
        submit(command);
    }
    {
        tsanhandover::CrossThreadEmit handOver;
        emit closeCameraSignal();
    }
}

void ImageProcessing::videoParameterSettings()
{
    if (!lockWithin(m_captureMutex, kGuiLockWaitMs)) {
        qDebug() << "camera busy; video parameters not set";
        return;
    }
    if (m_capture)
        configure(*m_capture);
    m_captureMutex.unlock();
}

void ImageProcessing::configure(FrameSource &source)
{
    const int fourcc = Cache::config->snapshot().imageFourcc;
    if (fourcc >= 0 && fourcc < static_cast<int>(kPixelFormats.size())) {
        const char *code = kPixelFormats[static_cast<size_t>(fourcc)];
        const bool ok = source.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc(code[0], code[1], code[2], code[3]));
        qDebug() << "fourcc" << code << answer(ok);
    }
    qDebug() << source.get(cv::CAP_PROP_FPS) << source.get(cv::CAP_PROP_FRAME_WIDTH)
             << source.get(cv::CAP_PROP_FRAME_HEIGHT);
    // Size before rate: on Video4Linux2 a new size resets the frame rate.
    qDebug() << answer(source.set(cv::CAP_PROP_FRAME_WIDTH, m_frameWidth.load()));
    qDebug() << answer(source.set(cv::CAP_PROP_FRAME_HEIGHT, m_frameHeight.load()));
    qDebug() << answer(source.set(cv::CAP_PROP_FPS, kRequestedFps));
    // A driver may clamp the size while set() says true: this line shows what it chose.
    qDebug() << source.get(cv::CAP_PROP_FPS) << source.get(cv::CAP_PROP_FRAME_WIDTH)
             << source.get(cv::CAP_PROP_FRAME_HEIGHT);
}

void ImageProcessing::setCameraExposure(int value)
{
    if (lockWithin(m_captureMutex, kGuiLockWaitMs)) {
        if (m_capture)
            applyExposure(*m_capture, value);
        m_captureMutex.unlock();
        return;
    }
    // The loop applies it before its next read.
    m_pendingExposure.store(value);
    m_hasPendingExposure.store(true);
}

void ImageProcessing::applyExposure(FrameSource &source, int value)
{
    if (source.isVideo4Linux()) {
        if (value == kAutoExposure) {
            source.set(cv::CAP_PROP_AUTO_EXPOSURE, kV4l2ExposureAuto);
            source.set(cv::CAP_PROP_AUTOFOCUS, 1.0);
            qDebug() << "the camera settings dialog is not available on Video4Linux2";
        } else {
            source.set(cv::CAP_PROP_AUTO_EXPOSURE, kV4l2ExposureManual);
            source.set(cv::CAP_PROP_EXPOSURE, v4l2Exposure(value));
        }
        return;
    }
    if (value == kAutoExposure) {
        source.set(cv::CAP_PROP_AUTO_EXPOSURE, 1.0);
        source.set(cv::CAP_PROP_AUTOFOCUS, 1.0);
        source.set(cv::CAP_PROP_SETTINGS, 0.0);
    } else {
        source.set(cv::CAP_PROP_AUTO_EXPOSURE, 0.0);
        source.set(cv::CAP_PROP_EXPOSURE, value);
    }
}

void ImageProcessing::reConfigVideoSetting()
{
    const ConfigValues settings = Cache::config->snapshot();
    const QSize size = chosenFrameSize(*Cache::cameras, settings.cameraIndex, settings.imageResolution);
    if (!size.isValid()) {
        qDebug() << "no capture size for camera/index" << settings.cameraIndex << "; nothing reopened";
        return;
    }
    requestReopen(size.width(), size.height());
}

void ImageProcessing::setCameraResolution(QSize size)
{
    requestReopen(size.width(), size.height());
}

void ImageProcessing::requestReopen(int width, int height)
{
    m_frameWidth.store(width);
    m_frameHeight.store(height);
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        m_reopenGeneration = m_generation;
    }
    m_reopenRequest.store(true, std::memory_order_release);
}

void ImageProcessing::setFrameWidth(int width)
{
    m_frameWidth.store(width);
}

void ImageProcessing::setFrameHeight(int height)
{
    m_frameHeight.store(height);
}

void ImageProcessing::setFrameWidthAndHeight(int width, int height)
{
    m_frameWidth.store(width);
    m_frameHeight.store(height);
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
    const cv::Mat frame = currentFrame();
    CaptureRequest request;
    {
        std::lock_guard<std::mutex> lock(m_requestMutex);
        request = m_request;
    }
    PhotoOptions options;
    options.correctionMode = m_correctionMode.load();
    options.shootingType = m_shootingType.load();
    options.rotation = m_angle.load();
    options.pictureInPicture = m_pictureInPicture.load();
    options.saveAsTiff = m_saveAsTiff.load();

    Config *config = Cache::config;
    const PhotoResult result = capturePhotos(frame, options, request, config->snapshot(), config->outputSizes,
                                             [config] { return config->takeNextNumber(); });
    // A page shot by hand is the page to compare the next turn with.
    if (m_watchPageTurns.load(std::memory_order_acquire) && !result.written.isEmpty())
        m_pageTurns.setReference(frame);
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
        qDebug() << "frame processing failed:" << e.what();
        out.release();
        return {};
    }
}

QImage ImageProcessing::handleQImage(QImage picture) const
{
    return rotateQuarterTurns(picture, m_angle.load(std::memory_order_relaxed));
}
