#pragma once

#include "engine/cameradevice.h"
#include "engine/framesink.h"
#include "engine/frameslot.h"
#include "engine/framesource.h"
#include "engine/jobqueue.h"
#include "engine/pageturndetector.h"
#include "engine/photo.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QThread>

#include <opencv2/core.hpp>

#include <atomic>
#include <mutex>
#include <vector>

// The capture session of one camera, and its face to the widgets. Its thread
// runs the capture loop: read a frame from the camera (CameraDevice), publish
// it into a slot (FrameSlot), hand it to a recording, make the preview picture
// at no more than the size it is shown at, and tell the GUI thread with one
// notification that later pictures ride on. The loop never waits for the GUI
// thread. Photographs are jobs on a worker thread of their own, each carrying
// its frame, its options and its settings, so the preview never stops for them.
// The object itself lives on the thread that made it (the GUI thread), which
// is where sendFarmeSignal() is emitted.
class ImageProcessing : public QThread {
    Q_OBJECT

public:
    static constexpr int kMaxFrameWidth = CameraDevice::kMaxFrameWidth;
    static constexpr int kCappedFrameHeight = CameraDevice::kCappedFrameHeight;
    static constexpr double kRequestedFps = CameraDevice::kRequestedFps;
    static constexpr int kIdlePauseMs = 33;
    static constexpr int kClosePauseMs = CameraDevice::kClosePauseMs;
    static constexpr int kEndWaitMs = 1000;
    static constexpr int kAutoExposure = CameraDevice::kAutoExposure;
    // Time without a frame after which the loop opens its camera again.
    static constexpr int kStallReopenMs = CameraDevice::kStallReopenMs;
    // How far the photograph worker stands back from the capture loop.
    static constexpr int kPhotoWorkerNiceness = 5;

    explicit ImageProcessing(QObject *parent = nullptr);
    // Ends the loop, then writes the photographs still queued.
    ~ImageProcessing() override;

    // Stops the loop and frees the session once its thread has ended (at
    // once when it has), without waiting for a camera stuck in a read.
    static void dispose(ImageProcessing *session);

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
    // Queues a photograph of the newest frame with the stored request.
    void takePhoto();
    // Watches the frames for page turns, emitting pageTurnedSignal() when a
    // new page has settled. Turning it on forgets the page seen before.
    void setWatchPageTurns(bool on);
    bool isWatchingPageTurns() const { return m_watchPageTurns.load(); }

    QImage MatQImage(const cv::Mat &mat) const;
    std::vector<cv::RotatedRect> findSquares(const cv::Mat &frame) const;
    std::vector<cv::RotatedRect> handleMat(const cv::Mat &in, cv::Mat &out, bool drawOutlines) const;
    QImage handleQImage(QImage picture) const;

    int cameraIndex() const { return m_device.cameraIndex(); }
    void setCameraIndex(int index) { m_device.setCameraIndex(index); }
    int frameWidth() const { return m_device.frameWidth(); }
    int frameHeight() const { return m_device.frameHeight(); }
    int angle() const { return m_angle.load(); }
    int cameraCorrection() const { return m_correctionMode.load(); }
    int cameraShootType() const { return m_shootingType.load(); }
    bool isCameraOpen() const { return m_device.isOpen(); }

    // The last frame read, whole, as 8-bit BGR (a JPEG frame is decoded on
    // the caller's thread). Pixels are shared: the loop never writes into a
    // buffer that a caller still holds, so the copy stays intact.
    cv::Mat currentFrame() const;
    // The last frame read as the camera gave it.
    CapturedFrame newestFrame() const { return m_slot.frame(); }
    // The full size of the last frame read; empty before the first.
    cv::Size frameSize() const { return m_slot.frame().size; }
    // The picture the preview shows of the last frame, made at full size.
    QImage fullSizePicture() const;

    // The size the preview is drawn at, in device pixels and zoomed; JPEG
    // frames are decoded no larger than that needs. Empty: whole frames.
    void setPreviewSize(QSize shown);
    // Off decodes every JPEG frame whole, as a camera's conversion would.
    void setReducedDecoding(bool on) { m_reducedDecoding.store(on); }
    // Every frame read goes to this sink from now on; null for none. Once
    // this returns, the loop no longer uses the sink it replaced.
    void setFrameSink(FrameSink *sink);
    // Photographs queued or being written.
    int pendingPhotographs() const { return m_photos.pending(); }

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
    // What one photograph needs, taken when the loop serves the request.
    struct PhotoJob {
        CapturedFrame frame;
        PhotoOptions options;
        CaptureRequest request;
        ConfigValues settings;
        QList<QSize> outputSizes;
        bool watchingPageTurns = false;
    };

    bool onCaptureThread() const { return QThread::currentThread() == this; }
    bool readFrame(cv::Mat &buffer, CapturedFrame &frame);
    void recycle(CapturedFrame &&old, cv::Mat &buffer);
    void feedSink(const CapturedFrame &frame);
    void showFrame(const CapturedFrame &frame);
    void watchPageTurns(const cv::Mat &picture);
    void deliverPreview();
    void writePhoto(const PhotoJob &job);

    CameraDevice m_device;
    FrameSlot m_slot;

    std::atomic<bool> m_running{false};
    // Set as the loop's last act: a hand-over ThreadSanitizer can see, where
    // Qt's own end-of-thread signalling (in uninstrumented code) is not.
    std::atomic<bool> m_loopEnded{false};
    std::atomic<int> m_angle{0};
    std::atomic<bool> m_takePhotoRequest{false};
    std::atomic<int> m_correctionMode{0};
    std::atomic<int> m_shootingType{0};
    std::atomic<bool> m_pictureInPicture{false};
    std::atomic<bool> m_saveAsTiff{false};
    std::atomic<bool> m_reducedDecoding{true};
    // Width and height the preview is drawn at, packed into one value.
    std::atomic<quint64> m_previewSize{0};

    std::mutex m_requestMutex;
    CaptureRequest m_request;

    std::mutex m_sinkMutex;
    FrameSink *m_sink = nullptr;

    std::atomic<bool> m_watchPageTurns{false};
    std::atomic<bool> m_resetPageTurns{false};
    PageTurnDetector m_pageTurns; // the capture thread's alone
    // A page photographed while watching, for the loop to compare turns with.
    std::mutex m_referenceMutex;
    cv::Mat m_pendingReference;

    // Last, so that it is the first member to go: queued photographs still
    // use the members above. Below the loop's priority: on a busy processor
    // the preview goes first and the photograph takes a little longer.
    JobQueue m_photos{kPhotoWorkerNiceness};
};
