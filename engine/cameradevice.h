#pragma once

#include "engine/framesource.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// The camera of one capture session: opening and closing it, its pixel
// format, size, rate and exposure, and the generation protocol that lets the
// GUI thread's newest request win over everything before it. The capture
// loop reads through it; the GUI thread commands it. A GUI-side call never
// waits long for a read that blocks: it leaves its request to the loop.
class CameraDevice {
public:
    static constexpr int kMaxFrameWidth = 3264;
    static constexpr int kCappedFrameHeight = 2448;
    static constexpr double kRequestedFps = 100.0;
    static constexpr int kClosePauseMs = 500;
    static constexpr int kAutoExposure = -100;
    // Time without a frame after which the loop opens its camera again.
    static constexpr int kStallReopenMs = 2000;

    // What the device tells its session; called on whichever thread acts.
    struct Events {
        std::function<void()> closed;
        std::function<void(const QString &)> busy;
    };

    explicit CameraDevice(Events events);
    // Releases the camera; the loop must have ended.
    ~CameraDevice();
    CameraDevice(const CameraDevice &) = delete;
    CameraDevice &operator=(const CameraDevice &) = delete;

    void setFrameSourceFactory(FrameSourceFactory factory);
    // Whether a Motion-JPEG camera is read as its own JPEG bytes (from the next open).
    void setJpegBytesWanted(bool on) { m_jpegWanted.store(on); }

    int cameraIndex() const { return m_cameraIndex.load(); }
    void setCameraIndex(int index) { m_cameraIndex.store(index); }
    int frameWidth() const { return m_frameWidth.load(); }
    int frameHeight() const { return m_frameHeight.load(); }
    void setFrameSize(int width, int height);
    void setFrameWidth(int width) { m_frameWidth.store(width); }
    void setFrameHeight(int height) { m_frameHeight.store(height); }
    bool isOpen() const { return m_cameraOpen.load(std::memory_order_acquire); }
    // The loop is not running: nothing reads until the camera is opened again.
    void markNotReading() { m_cameraOpen.store(false, std::memory_order_release); }
    // Raised by every open or close the GUI thread asks for.
    quint64 generation() const;

    // GUI thread: open the camera at the camera index and the frame size, or close it.
    void openFromGui();
    void closeFromGui();
    // The loop's own close and open (a reopen), under the generation of the
    // request; either gives way to a GUI request made since.
    void closeOnLoop();
    void openOnLoop();
    // Stores a new frame size and asks the loop to reopen at it.
    void requestReopen(int width, int height);
    // Loop: takes the reopen request, with its generation.
    bool takeReopenRequest();
    // Loop: carries out a command the GUI thread left while a read blocked.
    void servePendingCommand();

    // Gives the open camera its format, size and rate again.
    void configureNow();
    void setExposure(int value);

    // Loop: the next frame into `frame`; false when none came (no camera, a
    // failed read). `jpeg` tells whether it holds JPEG bytes, `generation`
    // which generation's camera read it.
    bool read(cv::Mat &frame, bool &jpeg, quint64 &generation);
    // Loop: a frame came; the stall clock starts again.
    void frameArrived();
    bool stalled() const;
    // Loop: the camera has been silent too long; opens it again.
    void reopenAfterStall();

private:
    struct Command {
        bool open = false;
        CameraInfo camera;
        quint64 generation = 0;
    };

    std::optional<Command> openCommand();
    void submit(const Command &command);
    void carryOutLocked(const Command &command);
    void configure(FrameSource &source);
    void applyExposure(FrameSource &source, int value);
    void reportIfBusy(const FrameSource &source);

    Events m_events;
    FrameSourceFactory m_factory;

    // Guards m_capture and every call on it. The loop holds it for one read;
    // a camera is released and the next one opened within one hold.
    std::mutex m_captureMutex;
    std::unique_ptr<FrameSource> m_capture;
    bool m_captureGivesJpeg = false;
    quint64 m_captureGeneration = 0;
    // Guards the generation, the command the GUI thread left while a read
    // blocked, and changes of the camera-open flag that depend on them.
    mutable std::mutex m_commandMutex;
    quint64 m_generation = 0;
    std::optional<Command> m_pendingCommand;
    // The generation current when the reopen request was raised.
    quint64 m_reopenGeneration = 0;
    // The generation the loop's own reopen belongs to (loop only).
    quint64 m_loopGeneration = 0;
    std::atomic<bool> m_reopenRequest{false};
    std::atomic<bool> m_hasPendingExposure{false};
    std::atomic<int> m_pendingExposure{0};

    // Steady-clock milliseconds of the last frame, or of the last open.
    std::atomic<qint64> m_lastFrameMs{0};
    // Set once a busy camera has been reported, until it delivers a frame or
    // the user opens a camera again: retries do not repeat the warning.
    std::atomic<bool> m_busyReported{false};
    std::atomic<bool> m_cameraOpen{false};
    std::atomic<bool> m_jpegWanted{true};
    std::atomic<int> m_cameraIndex{0};
    std::atomic<int> m_frameWidth{0};
    std::atomic<int> m_frameHeight{0};
};
