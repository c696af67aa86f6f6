#pragma once

#include "recording/videorecorder.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class ImageProcessing;
class Ui_QCameraView;

// Shows one camera's live picture fitted to the widget, with wheel zoom and
// drag-to-pan. The camera is a capture session (ImageProcessing) that its
// holder gives it; a widget given none makes one of its own on first use.
// The widget passes the user's commands on to the session, tells it the size
// the picture is shown at, and records the session's frames to video.
class QCameraView : public QWidget {
    Q_OBJECT

public:
    static constexpr double kZoomStep = 0.2;
    // The camera rate recordings were made for: callers that hand frames to a
    // VideoRecorder themselves (tests, benchmarks) do so at this interval.
    static constexpr int kWriterIntervalMs = 33;
    // How long recordEnd() waits for the last file to be complete before it
    // leaves that to the recorder's thread and reports the files later.
    static constexpr int kRecordEndWaitMs = 100;

    explicit QCameraView(QWidget *parent = nullptr);
    ~QCameraView() override;

    // The session to show and command; the holder keeps ownership. Null
    // detaches the widget (a running recording is ended first).
    void setSession(ImageProcessing *session);

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
    // The picture on show; it may be decoded smaller than the camera's frame.
    QImage displayedImage() const { return m_image; }
    // The picture on show as the camera's whole frame gives it, for keeping;
    // the picture on show once the camera is closed.
    QImage fullSizeImage() const;
    double zoomFactor() const { return 1.0 + kZoomStep * m_zoomSteps; }
    QPoint panOffset() const { return m_pan; }
    int receivedFrames() const { return m_receivedFrames; }
    // The session shown (made on first use when the holder gave none).
    ImageProcessing *captureThread();

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
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void updateImage(QImage image);
    void takePhotoImage(QList<QString> paths, int kind);
    void openCameraSlot();
    void closeCameraSlot();
    void onZoomInImage();
    void onZoomOutImage();
    void onPresetImage();

private:
    void attach(ImageProcessing *session);
    void detach();
    void updatePreviewSize();
    QSize cameraSize(int index) const;
    bool zoomOut();
    void stopRecording();
    void recorderFinished(VideoRecorder *recorder);
    void reportRecording(const VideoRecorder &recorder);
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
    // After a reopen asked of the loop, pictures until the loop reports its
    // close still come from before it and cannot end the opening state.
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

    QPointer<ImageProcessing> m_session;
    // Whether m_session is this widget's own, made because no holder gave one.
    bool m_ownSession = false;
};
