#pragma once

#include "recording/videorecorder.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class ImageProcessing;
class QTimer;
class Ui_QCameraView;

// Shows one camera's live picture fitted to the widget, with wheel zoom and
// drag-to-pan, and is the GUI thread's handle on that camera's capture thread.
// It also records the camera's raw frames to video.
class QCameraView : public QWidget {
    Q_OBJECT

public:
    static constexpr double kZoomStep = 0.2;
    static constexpr int kWriterIntervalMs = 33;
    // How long recordEnd() waits for the last file to be complete before it
    // leaves that to the recorder's thread and reports the files later.
    static constexpr int kRecordEndWaitMs = 100;

    explicit QCameraView(QWidget *parent = nullptr);
    ~QCameraView() override;

    void init(int index);
    void openCamara();
    void closeCamara();
    // A width or height of 0 keeps the capture thread's current value.
    void changeCamera(int index, int width, int height);
    // Reopens at the camera's size, capped by the picture-in-picture output size when that is on.
    void changeCameraResolution(bool pictureInPicture, bool mainCamera);
    void reConfigVideoSetting();
    void setCameraExposure(int value);
    void setAngle(int step);
    void setCameraCorrection(int mode);
    void setCameraShootType(int type);
    void setTakePhotoChildCamera(bool on);
    void setSaveImageToTiff(bool on);
    void setTakePhotoCammond(QImage first, QImage second, bool firstPresent, bool secondPresent);
    void videoSettingOpenWindow();

    void recordBegin();
    // Returns at once; the completed files are reported when the last one is
    // on the disk, within kRecordEndWaitMs when that is quick.
    void recordEnd();
    bool isRecording() const { return m_recording; }
    // Path of the first file of the current or last recording.
    QString recordingFilePath() const { return m_recordingFilePath; }
    void setRecordingLimits(RecordingLimits limits) { m_recordingLimits = limits; }

    // Set from a (re)open until the first picture arrives: no recording then.
    bool isOpening() const { return m_opening; }
    int cameraIndex() const { return m_cameraIndex; }
    QImage displayedImage() const { return m_image; }
    double zoomFactor() const { return 1.0 + kZoomStep * m_zoomSteps; }
    QPoint panOffset() const { return m_pan; }
    int receivedFrames() const { return m_receivedFrames; }
    ImageProcessing *captureThread() const { return m_thread; }

signals:
    void sendTakePhotoImageSignal(QList<QString> paths, int kind);
    void openCameraSignal();
    void closeCameraSignal();
    // A photograph or a recording failed, or the camera is busy; the text is for the user.
    void warningSignal(QString message);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void updateImage(QImage image);
    void takePhotoImage(QList<QString> paths, int kind);
    void openCameraSlot();
    void closeCameraSlot();
    void onWriterTimer();
    void onZoomInImage();
    void onZoomOutImage();
    void onPresetImage();

private:
    QSize cameraSize(int index) const;
    bool zoomOut();
    void stopRecording();
    void recorderFinished(VideoRecorder *recorder);
    void reportRecording(const VideoRecorder &recorder);
    void dropPicturesInFlight();
    const QImage &fittedPicture(QSize size);

    std::unique_ptr<Ui_QCameraView> m_ui;
    QImage m_image;
    bool m_opening = false;
    int m_cameraIndex = 0;
    // The zoom factor is 1 + 0.2 * steps, kept as a count so that 1.0 is exact.
    int m_zoomSteps = 0;
    QPoint m_pan;
    QPoint m_lastMouse;
    bool m_dragging = false;
    int m_receivedFrames = 0;
    // Pictures are delivered in the order they are sent, one at a time. One
    // sent before a close or reopen may still arrive after it; counting both
    // ends tells it apart, so it cannot end the opening state early.
    std::atomic<qint64> m_picturesSent{0};
    qint64 m_picturesArrived = 0;
    qint64 m_staleUpTo = 0;
    bool m_awaitingLoopClose = false;

    // The displayed picture scaled for a fitted repaint, kept until the picture or size changes.
    QImage m_fitted;
    qint64 m_fittedFrom = 0;

    QString m_recordingFilePath;
    bool m_recording = false;
    RecordingLimits m_recordingLimits;
    std::unique_ptr<VideoRecorder> m_recorder;
    // Stopped recordings kept until their recorder says it is done.
    struct StoppedRecording {
        std::unique_ptr<VideoRecorder> recorder;
        bool reported = false;
    };
    std::vector<StoppedRecording> m_stopped;

    ImageProcessing *m_thread = nullptr;
    QTimer *m_writerTimer = nullptr;
};
