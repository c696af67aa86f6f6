#include "engine/cameradevice.h"

#include "app/cache.h"
#include "app/logging.h"
#include "engine/videodevicesource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <opencv2/videoio.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>

// A read bounded by the back end returns before the loop would call it stalled.
static_assert(VideoDeviceSource::kReadTimeoutSec * 1000 < CameraDevice::kStallReopenMs,
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

CameraDevice::CameraDevice(Events events) : m_events(std::move(events)), m_factory(makeFrameSource) {}

CameraDevice::~CameraDevice()
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (m_capture)
        m_capture->release();
    m_capture.reset();
}

void CameraDevice::setFrameSourceFactory(FrameSourceFactory factory)
{
    std::lock_guard<std::mutex> lock(m_captureMutex);
    m_factory = std::move(factory);
}

void CameraDevice::setFrameSize(int width, int height)
{
    m_frameWidth.store(width);
    m_frameHeight.store(height);
}

quint64 CameraDevice::generation() const
{
    std::lock_guard<std::mutex> lock(m_commandMutex);
    return m_generation;
}

std::optional<CameraDevice::Command> CameraDevice::openCommand()
{
    const int index = m_cameraIndex.load();
    if (index < 0 || index >= Cache::cameras->size()) {
        qCDebug(lcCamera) << "camera index" << index << "is not in the list of" << Cache::cameras->size()
                          << "cameras; the camera stays closed";
        return std::nullopt;
    }
    if (m_frameWidth.load() > kMaxFrameWidth)
        setFrameSize(kMaxFrameWidth, kCappedFrameHeight);
    Command command;
    command.open = true;
    command.camera = Cache::cameras->at(index);
    return command;
}

void CameraDevice::openFromGui()
{
    std::optional<Command> command = openCommand();
    if (!command)
        return;
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        command->generation = ++m_generation;
    }
    m_busyReported.store(false);
    submit(*command);
}

void CameraDevice::openOnLoop()
{
    std::optional<Command> command = openCommand();
    if (!command)
        return;
    // The loop waits for the lock, and gives way to any request the GUI
    // thread made since the reopen began.
    command->generation = m_loopGeneration;
    std::lock_guard<std::mutex> lock(m_captureMutex);
    carryOutLocked(*command);
}

void CameraDevice::closeFromGui()
{
    Command command;
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        command.generation = ++m_generation;
        m_cameraOpen.store(false, std::memory_order_release);
    }
    QThread::msleep(kClosePauseMs);
    submit(command);
    if (m_events.closed)
        m_events.closed();
}

void CameraDevice::closeOnLoop()
{
    Command command;
    command.generation = m_loopGeneration;
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        if (command.generation == m_generation)
            m_cameraOpen.store(false, std::memory_order_release);
    }
    QThread::msleep(kClosePauseMs);
    {
        std::lock_guard<std::mutex> lock(m_captureMutex);
        carryOutLocked(command);
    }
    if (m_events.closed)
        m_events.closed();
}

void CameraDevice::requestReopen(int width, int height)
{
    setFrameSize(width, height);
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        m_reopenGeneration = m_generation;
    }
    m_reopenRequest.store(true, std::memory_order_release);
}

bool CameraDevice::takeReopenRequest()
{
    if (!m_reopenRequest.exchange(false, std::memory_order_acq_rel))
        return false;
    {
        // A request the GUI thread made after this one wins over it.
        std::lock_guard<std::mutex> lock(m_commandMutex);
        m_loopGeneration = m_reopenGeneration;
    }
    m_busyReported.store(false);
    return true;
}

void CameraDevice::submit(const Command &command)
{
    if (lockWithin(m_captureMutex, kGuiLockWaitMs)) {
        carryOutLocked(command);
        m_captureMutex.unlock();
        return;
    }
    // A read is blocked on the old camera: the loop carries this out when it
    // returns. Only the newest request is kept.
    qCDebug(lcCamera) << "camera busy; the capture thread will change cameras after its read";
    std::lock_guard<std::mutex> lock(m_commandMutex);
    m_pendingCommand = command;
}

void CameraDevice::servePendingCommand()
{
    std::lock_guard<std::mutex> capture(m_captureMutex);
    std::optional<Command> command;
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        command.swap(m_pendingCommand);
    }
    if (command)
        carryOutLocked(*command);
}

void CameraDevice::carryOutLocked(const Command &command)
{
    {
        // A newer request has been made (and is carried out, or pending): this one is void.
        std::lock_guard<std::mutex> lock(m_commandMutex);
        if (command.generation != m_generation)
            return;
    }
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
        qCDebug(lcCamera) << "camera" << command.camera.path << "did not open";
        reportIfBusy(*source);
    }
    configure(*source);
    m_captureGivesJpeg = m_jpegWanted.load() && source->keepJpegBytes();
    qCDebug(lcCamera) << "camera" << command.camera.path << (m_captureGivesJpeg ? "read as JPEG bytes" : "read as pixels");
    m_capture = std::move(source);
    m_captureGeneration = command.generation;

    // Whoever opens sets the flag last, and only if no newer request came meanwhile.
    std::lock_guard<std::mutex> lock(m_commandMutex);
    if (command.generation == m_generation) {
        m_lastFrameMs.store(steadyNowMs());
        m_cameraOpen.store(true, std::memory_order_release);
    }
}

bool CameraDevice::read(cv::Mat &frame, bool &jpeg, quint64 &generation)
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
        qCDebug(lcCapture) << "camera read failed:" << e.what();
    }
    if (!ok) {
        reportIfBusy(*m_capture);
        return false;
    }
    jpeg = m_captureGivesJpeg;
    generation = m_captureGeneration;
    return true;
}

void CameraDevice::frameArrived()
{
    m_lastFrameMs.store(steadyNowMs());
    m_busyReported.store(false);
}

bool CameraDevice::stalled() const
{
    return steadyNowMs() - m_lastFrameMs.load() >= kStallReopenMs;
}

void CameraDevice::reopenAfterStall()
{
    {
        std::lock_guard<std::mutex> lock(m_commandMutex);
        m_loopGeneration = m_generation;
    }
    qCDebug(lcCamera) << "no frames from camera" << m_cameraIndex.load() << "for" << kStallReopenMs
                      << "ms; opening it again";
    if (m_events.closed)
        m_events.closed();
    openOnLoop();
    // Not opened (index gone, or a newer request won): wait another period before trying again.
    m_lastFrameMs.store(steadyNowMs());
}

void CameraDevice::reportIfBusy(const FrameSource &source)
{
    if (source.lastError() != EBUSY || m_busyReported.exchange(true))
        return;
    const int index = m_cameraIndex.load();
    const QString name = index >= 0 && index < Cache::cameras->size() ? Cache::cameras->at(index).name : QString();
    if (m_events.busy)
        m_events.busy(QCoreApplication::translate("ImageProcessing",
                                                  "摄像头“%1”正被其他程序占用，请关闭占用它的程序后再试。")
                          .arg(name));
}

void CameraDevice::configureNow()
{
    if (!lockWithin(m_captureMutex, kGuiLockWaitMs)) {
        qCDebug(lcCamera) << "camera busy; video parameters not set";
        return;
    }
    if (m_capture)
        configure(*m_capture);
    m_captureMutex.unlock();
}

void CameraDevice::configure(FrameSource &source)
{
    const int fourcc = Cache::config->snapshot().imageFourcc;
    if (fourcc >= 0 && fourcc < static_cast<int>(kPixelFormats.size())) {
        const char *code = kPixelFormats[static_cast<size_t>(fourcc)];
        const bool ok = source.set(cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc(code[0], code[1], code[2], code[3]));
        qCDebug(lcCamera) << "fourcc" << code << answer(ok);
    }
    qCDebug(lcCamera) << source.get(cv::CAP_PROP_FPS) << source.get(cv::CAP_PROP_FRAME_WIDTH)
                      << source.get(cv::CAP_PROP_FRAME_HEIGHT);
    // Size before rate: on Video4Linux2 a new size resets the frame rate.
    // (Set outside the log lines, which are not evaluated while they are off.)
    const bool width = source.set(cv::CAP_PROP_FRAME_WIDTH, m_frameWidth.load());
    qCDebug(lcCamera) << answer(width);
    const bool height = source.set(cv::CAP_PROP_FRAME_HEIGHT, m_frameHeight.load());
    qCDebug(lcCamera) << answer(height);
    const bool rate = source.set(cv::CAP_PROP_FPS, kRequestedFps);
    qCDebug(lcCamera) << answer(rate);
    // A driver may clamp the size while set() says true: this line shows what it chose.
    qCDebug(lcCamera) << source.get(cv::CAP_PROP_FPS) << source.get(cv::CAP_PROP_FRAME_WIDTH)
                      << source.get(cv::CAP_PROP_FRAME_HEIGHT);
}

void CameraDevice::setExposure(int value)
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

void CameraDevice::applyExposure(FrameSource &source, int value)
{
    if (source.isVideo4Linux()) {
        if (value == kAutoExposure) {
            source.set(cv::CAP_PROP_AUTO_EXPOSURE, kV4l2ExposureAuto);
            source.set(cv::CAP_PROP_AUTOFOCUS, 1.0);
            qCDebug(lcCamera) << "the camera settings dialog is not available on Video4Linux2";
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
