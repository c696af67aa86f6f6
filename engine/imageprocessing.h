#pragma once

#include "engine/framesource.h"
#include "engine/pageturndetector.h"
#include "engine/photo.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QThread>

#include <opencv2/core.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The capture thread of one camera: reads frames in its own loop, runs them
// through the pipeline, hands pictures to its widget, and carries out the
// photograph and reopen requests the GUI thread leaves between frames.
class ImageProcessing : public QThread {
    Q_OBJECT

public:
    static constexpr int kMaxFrameWidth = 3264;
    static constexpr int kCappedFrameHeight = 2448;
    static constexpr double kRequestedFps = 100.0;
    static constexpr int kIdlePauseMs = 33;
    static constexpr int kClosePauseMs = 500;
    static constexpr int kEndWaitMs = 1000;
    static constexpr int kAutoExposure = -100;
    // Time without a frame after which the loop opens its camera again.
    static constexpr int kStallReopenMs = 2000;

    explicit ImageProcessing(QObject *parent = nullptr);
    ~ImageProcessing() override;

    // Where sources come from; the default makes real cameras and the stand-in.
    void setFrameSourceFactory(FrameSourceFactory factory);

    void openCamara();
    void closeCamara(bool);
    void videoParameterSettings();
    void setCameraExposure(int value);
    void reConfigVideoSetting();
    void setCameraResolution(QSize size);
    void setFrameWidth(int width);
    void setFrameHeight(int height);
    void setFrameWidthAndHeight(int width, int height);
    void setAngle(int step);
    void setCameraCorrection(int mode);
    void setCameraShootType(int type);
    void setTakePhotoChildCamera(bool on);
    void setSaveImageToTiff(bool on);
    void setTakePhotoCammond(QImage first, QImage second, bool firstPresent, bool secondPresent);
    void takePhoto();
    // Watches the frames for page turns, emitting pageTurnedSignal() when a
    // new page has settled. Turning it on forgets the page seen before.
    void setWatchPageTurns(bool on);
    bool isWatchingPageTurns() const { return m_watchPageTurns.load(); }

    QImage MatQImage(const cv::Mat &mat) const;
    std::vector<cv::RotatedRect> findSquares(const cv::Mat &frame) const;
    std::vector<cv::RotatedRect> handleMat(const cv::Mat &in, cv::Mat &out, bool drawOutlines) const;
    QImage handleQImage(QImage picture) const;

    int cameraIndex() const { return m_cameraIndex.load(); }
    void setCameraIndex(int index) { m_cameraIndex.store(index); }
    int frameWidth() const { return m_frameWidth.load(); }
    int frameHeight() const { return m_frameHeight.load(); }
    int angle() const { return m_angle.load(); }
    int cameraCorrection() const { return m_correctionMode.load(); }
    int cameraShootType() const { return m_shootingType.load(); }
    bool isCameraOpen() const { return m_cameraOpen.load(std::memory_order_acquire); }

    // The last frame read, sharing its pixels: the loop never writes into a
    // buffer that a caller still holds, so the copy stays intact.
    cv::Mat currentFrame() const;

public slots:
    void begin();
    void end();

signals:
    void sendFarmeSignal(QImage image);
    void sendTakePhotoImageSignal(QList<QString> paths, int kind);
    void openCameraSignal();
    void closeCameraSignal();
    // A photograph could not be (completely) written; the text is for the user.
    void photoFailedSignal(QString message);
    // A new page lies still under the camera (while watching for page turns).
    void pageTurnedSignal();
    // The camera could not be opened or started; the text is for the user.
    void cameraErrorSignal(QString message);

protected:
    void run() override;

private:
    // A camera change asked for by the GUI thread or by the loop itself.
    // Each GUI-thread request takes a new generation; a change whose
    // generation is no longer the newest is dropped, so the GUI's last word wins.
    struct CameraCommand {
        bool open = false;
        CameraInfo camera;
        quint64 generation = 0;
    };

    bool onCaptureThread() const { return QThread::currentThread() == this; }
    std::optional<CameraCommand> openCommand();
    quint64 newGeneration();
    void requestReopen(int width, int height);
    bool isNewest(quint64 generation);
    void submit(const CameraCommand &command);
    void carryOutLocked(const CameraCommand &command);
    void servePendingCommand();
    bool readFrame(cv::Mat &frame);
    void configure(FrameSource &source);
    void applyExposure(FrameSource &source, int value);
    bool stalled() const;
    void reopenAfterStall();
    void publishFrame(cv::Mat &frame);
    void watchPageTurns();
    void reportIfBusy(const FrameSource &source);

    FrameSourceFactory m_factory;

    // Guards m_capture and every call on it. The loop holds it for one read;
    // a camera is released and the next one opened within one hold.
    std::mutex m_captureMutex;
    std::unique_ptr<FrameSource> m_capture;
    // Guards the generation, the command the GUI thread left while a read
    // blocked, and changes of the camera-open flag that depend on them.
    std::mutex m_commandMutex;
    quint64 m_generation = 0;
    std::optional<CameraCommand> m_pendingCommand;
    // The generation current when the reopen request was raised.
    quint64 m_reopenGeneration = 0;
    // The generation the loop's own reopen belongs to (capture thread only).
    quint64 m_loopGeneration = 0;
    std::atomic<bool> m_hasPendingExposure{false};
    std::atomic<int> m_pendingExposure{0};

    // Guards the current frame while it is replaced or shared.
    mutable std::mutex m_frameMutex;
    cv::Mat m_currentFrame;
    cv::Mat m_readBuffer;
    // Steady-clock milliseconds of the last frame, or of the last open.
    std::atomic<qint64> m_lastFrameMs{0};
    // Set once a busy camera has been reported, until it delivers a frame or
    // the user opens a camera again: retries do not repeat the warning.
    std::atomic<bool> m_busyReported{false};

    std::atomic<bool> m_running{false};
    // Set as the loop's last act: a hand-over ThreadSanitizer can see, where
    // Qt's own end-of-thread signalling (in uninstrumented code) is not.
    std::atomic<bool> m_loopEnded{false};
    std::atomic<bool> m_cameraOpen{false};
    std::atomic<int> m_cameraIndex{0};
    std::atomic<int> m_frameWidth{0};
    std::atomic<int> m_frameHeight{0};
    std::atomic<int> m_angle{0};
    std::atomic<bool> m_reopenRequest{false};
    std::atomic<bool> m_takePhotoRequest{false};
    std::atomic<int> m_correctionMode{0};
    std::atomic<int> m_shootingType{0};
    std::atomic<bool> m_pictureInPicture{false};
    std::atomic<bool> m_saveAsTiff{false};

    std::mutex m_requestMutex;
    CaptureRequest m_request;

    std::atomic<bool> m_watchPageTurns{false};
    std::atomic<bool> m_resetPageTurns{false};
    PageTurnDetector m_pageTurns; // the capture thread's alone
};
