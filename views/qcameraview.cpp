#include "views/qcameraview.h"

#include "ui_qcameraview.h"

#include "app/cache.h"
#include "app/logging.h"
#include "engine/imageprocessing.h"
#include "views/displayscaling.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QWheelEvent>
#include <QtMath>

#include <algorithm>
#include <utility>

QCameraView::QCameraView(QWidget *parent) : QWidget(parent), m_ui(std::make_unique<Ui_QCameraView>())
{
    m_ui->setupUi(this);
}

QCameraView::~QCameraView()
{
    // The files of a running recording are completed; nobody is told, the holder is going away.
    stopRecording();
    m_stopped.clear();
    detach();
}

void QCameraView::setSession(ImageProcessing *session)
{
    if (session == m_session)
        return;
    stopRecording();
    detach();
    if (session)
        attach(session);
}

ImageProcessing *QCameraView::captureThread()
{
    if (!m_session) {
        auto *own = new ImageProcessing();
        attach(own);
        m_ownSession = true;
        own->begin();
    }
    return m_session;
}

void QCameraView::attach(ImageProcessing *session)
{
    m_session = session;
    m_ownSession = false;
    connect(session, &ImageProcessing::sendFarmeSignal, this, &QCameraView::updateImage);
    connect(session, &ImageProcessing::sendTakePhotoImageSignal, this, &QCameraView::takePhotoImage);
    connect(session, &ImageProcessing::openCameraSignal, this, &QCameraView::openCameraSlot);
    connect(session, &ImageProcessing::closeCameraSignal, this, &QCameraView::closeCameraSlot);
    connect(session, &ImageProcessing::photoFailedSignal, this, &QCameraView::warningSignal);
    // Queued even when the GUI thread opens the camera: the holder's warning
    // box must not run its event loop in the middle of an open.
    connect(session, &ImageProcessing::cameraErrorSignal, this, &QCameraView::warningSignal, Qt::QueuedConnection);
    updatePreviewSize();
}

void QCameraView::detach()
{
    ImageProcessing *session = m_session;
    if (!session)
        return;
    disconnect(session, nullptr, this, nullptr);
    m_session = nullptr;
    m_awaitingLoopClose = false;
    if (m_ownSession)
        ImageProcessing::dispose(session);
    m_ownSession = false;
}

void QCameraView::updatePreviewSize()
{
    if (!m_session)
        return;
    // A widget not on screen may be grabbed at any size: it gets whole frames.
    QSize shown;
    if (isVisible()) {
        const double scale = devicePixelRatioF() * std::max(1.0, zoomFactor());
        shown = QSize(qCeil(width() * scale), qCeil(height() * scale));
    }
    m_session->setPreviewSize(shown);
}

void QCameraView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updatePreviewSize();
}

void QCameraView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updatePreviewSize();
}

void QCameraView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updatePreviewSize();
}

QSize QCameraView::cameraSize(int index) const
{
    return chosenFrameSize(*Cache::cameras, index, Cache::config->snapshot().imageResolution);
}

void QCameraView::init(int index)
{
    ImageProcessing *session = captureThread();
    m_cameraIndex = index;
    session->setCameraIndex(index);
    const QSize size = cameraSize(index);
    if (size.isValid())
        session->setFrameWidthAndHeight(size.width(), size.height());
    session->openCamara();
    m_opening = true;
}

void QCameraView::openCamara()
{
    captureThread()->openCamara();
    m_opening = true;
}

void QCameraView::closeCamara()
{
    captureThread()->closeCamara(true);
    emit closeCameraSignal();
}

void QCameraView::changeCamera(int index, int width, int height)
{
    ImageProcessing *session = captureThread();
    session->closeCamara(true);
    emit closeCameraSignal();
    m_cameraIndex = index;
    session->setCameraIndex(index);
    if (width != 0)
        session->setFrameWidth(width);
    if (height != 0)
        session->setFrameHeight(height);
    session->openCamara();
    m_opening = true;
}

void QCameraView::changeCameraResolution(bool pictureInPicture, bool mainCamera)
{
    QSize size = cameraSize(m_cameraIndex);
    if (!size.isValid())
        return;
    if (pictureInPicture) {
        const ConfigValues settings = Cache::config->snapshot();
        const int capIndex = mainCamera ? settings.paintingMainResolution : settings.paintingOtherResolution;
        const QList<QSize> &outputSizes = Cache::config->outputSizes;
        if (capIndex >= 0 && capIndex < outputSizes.size()) {
            const QSize cap = outputSizes.at(capIndex);
            if (cap.width() < size.width())
                size = cap;
        } else {
            qCDebug(lcCamera) << "picture-in-picture size index" << capIndex << "is not an output size; no cap applied";
        }
    }
    captureThread()->setCameraResolution(size);
}

void QCameraView::reConfigVideoSetting()
{
    // The capture thread reopens only for a camera/index it knows that offers
    // sizes; otherwise its camera keeps running and there is nothing to wait for.
    const int index = Cache::config->snapshot().cameraIndex;
    const bool reopens = index >= 0 && index < Cache::cameras->size() && !Cache::cameras->at(index).sizes.isEmpty();
    if (reopens) {
        emit closeCameraSignal();
        m_opening = true;
        m_awaitingLoopClose = true;
    }
    captureThread()->reConfigVideoSetting();
}

void QCameraView::setCameraExposure(int value)
{
    captureThread()->setCameraExposure(value);
}

void QCameraView::setAngle(int step)
{
    captureThread()->setAngle(step);
}

void QCameraView::setCameraCorrection(int mode)
{
    captureThread()->setCameraCorrection(mode);
}

void QCameraView::setCameraShootType(int type)
{
    captureThread()->setCameraShootType(type);
}

void QCameraView::setTakePhotoChildCamera(bool on)
{
    captureThread()->setTakePhotoChildCamera(on);
}

void QCameraView::setSaveImageToTiff(bool on)
{
    captureThread()->setSaveImageToTiff(on);
}

void QCameraView::setTakePhotoCammond(QImage first, QImage second, bool firstPresent, bool secondPresent)
{
    captureThread()->setTakePhotoCammond(std::move(first), std::move(second), firstPresent, secondPresent);
}

QImage QCameraView::fullSizeImage() const
{
    if (!m_session || m_image.isNull() || !m_session->isCameraOpen())
        return m_image;
    // The picture on show may be a reduced decode: what is kept is made from the whole frame.
    const cv::Size full = m_session->frameSize();
    if (static_cast<qint64>(m_image.width()) * m_image.height() >= static_cast<qint64>(full.area()))
        return m_image;
    const QImage whole = m_session->fullSizePicture();
    return whole.isNull() ? m_image : whole;
}

void QCameraView::videoSettingOpenWindow() {}

void QCameraView::updateImage(QImage image)
{
    if (m_opening && !m_awaitingLoopClose) {
        m_opening = false;
        emit openCameraSignal();
    }
    m_image = std::move(image);
    ++m_receivedFrames;
    update();
}

void QCameraView::takePhotoImage(QList<QString> paths, int kind)
{
    emit sendTakePhotoImageSignal(paths, kind);
}

void QCameraView::openCameraSlot()
{
    if (!m_opening)
        return;
    m_opening = false;
    emit openCameraSignal();
}

void QCameraView::closeCameraSlot()
{
    m_awaitingLoopClose = false;
    m_opening = true;
    emit closeCameraSignal();
}

const QImage &QCameraView::fittedPicture(QSize size)
{
    // A repaint without a new picture (expose, drag) reuses the last scaling.
    if (m_fitted.isNull() || m_fittedFrom != m_image.cacheKey() || m_fitted.size() != size) {
        m_fitted = scaleForDisplay(m_image, size, std::move(m_fitted));
        m_fittedFrom = m_image.cacheKey();
    }
    return m_fitted;
}

void QCameraView::paintEvent(QPaintEvent *event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (m_image.isNull()) {
        QWidget::paintEvent(event);
        return;
    }

    const QSize fitted = fittedPictureSize(m_image.size(), size());
    const int w = fitted.width();
    const int h = fitted.height();
    painter.translate(width() / 2 + m_pan.x(), height() / 2 + m_pan.y());
    const QRect target(-(w / 2), -(h / 2), w, h);
    if (m_zoomSteps <= 0) {
        if (!fitted.isEmpty()) {
            const QSize scaled = m_image.size().scaled(fitted, Qt::KeepAspectRatioByExpanding);
            painter.drawImage(target, fittedPicture(scaled));
        }
        m_pan = QPoint();
        if (std::exchange(m_zoomSteps, 0) != 0)
            updatePreviewSize();
    } else {
        const double zoom = zoomFactor();
        painter.scale(zoom, zoom);
        painter.drawImage(target, m_image);
    }
}

bool QCameraView::zoomOut()
{
    // The step that would bring the factor to 0 or below is refused.
    if (1.0 + kZoomStep * (m_zoomSteps - 1) <= 0.0)
        return false;
    --m_zoomSteps;
    return true;
}

void QCameraView::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    if ((delta.y() != 0 ? delta.y() : delta.x()) > 0)
        ++m_zoomSteps;
    else
        zoomOut();
    updatePreviewSize();
    update();
}

void QCameraView::onZoomInImage()
{
    ++m_zoomSteps;
    updatePreviewSize();
    update();
}

void QCameraView::onZoomOutImage()
{
    if (zoomOut()) {
        updatePreviewSize();
        update();
    }
}

void QCameraView::onPresetImage()
{
    m_pan = QPoint();
    m_zoomSteps = 0;
    updatePreviewSize();
    update();
}

void QCameraView::mousePressEvent(QMouseEvent *event)
{
    m_lastMouse = event->localPos().toPoint();
    m_dragging = true;
}

void QCameraView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    setCursor(Qt::SizeAllCursor);
    const QPoint position = event->localPos().toPoint();
    m_pan += position - m_lastMouse;
    m_lastMouse = position;
    update();
}

void QCameraView::mouseReleaseEvent(QMouseEvent *)
{
    m_dragging = false;
    setCursor(Qt::ArrowCursor);
}

void QCameraView::recordBegin()
{
    if (m_opening || m_recording)
        return;
    ImageProcessing *session = captureThread();
    const cv::Size size = session->frameSize();
    if (size.empty()) {
        emit warningSignal(tr("没有可录制的画面。"));
        return;
    }
    const QString directory = Cache::config->snapshot().workDirectory();
    auto recorder = std::make_unique<VideoRecorder>(directory, QDateTime::currentDateTime(), m_recordingLimits, this);
    if (!recorder->start(size)) {
        emit warningSignal(recorder->errorString());
        return;
    }
    VideoRecorder *started = recorder.get();
    // Queued: the recorder says it is done from its own thread.
    connect(started, &VideoRecorder::finishedSignal, this, [this, started] { recorderFinished(started); });
    m_recordingFilePath = recorder->firstFilePath();
    m_recorder = std::move(recorder);
    m_recording = true;
    // The loop hands it every frame it reads from now on.
    session->setFrameSink(started);
}

void QCameraView::stopRecording()
{
    m_recording = false;
    if (!m_recorder)
        return;
    // Once this returns the loop no longer hands it frames.
    if (m_session)
        m_session->setFrameSink(nullptr);
    m_recorder->stop();
    m_stopped.push_back({std::move(m_recorder), false});
}

void QCameraView::recordEnd()
{
    if (!m_recording)
        return;
    stopRecording();
    StoppedRecording &stopped = m_stopped.back();
    if (stopped.recorder->waitDone(kRecordEndWaitMs)) {
        stopped.reported = true;
        reportRecording(*stopped.recorder);
    }
}

void QCameraView::recorderFinished(VideoRecorder *recorder)
{
    // A recording that failed on its own ends here.
    if (m_recorder.get() == recorder)
        stopRecording();
    const auto found = std::find_if(m_stopped.begin(), m_stopped.end(),
                                    [recorder](const StoppedRecording &s) { return s.recorder.get() == recorder; });
    if (found == m_stopped.end())
        return;
    const std::unique_ptr<VideoRecorder> done = std::move(found->recorder);
    const bool reported = found->reported;
    m_stopped.erase(found);
    if (!reported)
        reportRecording(*done);
}

void QCameraView::reportRecording(const VideoRecorder &recorder)
{
    const QStringList files = recorder.completedFiles();
    if (!files.isEmpty())
        emit sendTakePhotoImageSignal(files, 0);
    const QString failure = recorder.failure();
    if (!failure.isEmpty())
        emit warningSignal(failure);
}
