#include "views/qcameraview.h"

#include "ui_qcameraview.h"

#include "app/cache.h"
#include "engine/imageprocessing.h"
#include "sanitizers/tsanhandover.h"
#include "views/displayscaling.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

QCameraView::QCameraView(QWidget *parent) : QWidget(parent), m_ui(std::make_unique<Ui_QCameraView>())
{
    m_ui->setupUi(this);

    m_thread = new ImageProcessing();
    m_thread->begin();
    // Connected first, so it runs in the capture thread before the hand-over.
    connect(
        m_thread, &ImageProcessing::sendFarmeSignal, this, [this] { m_picturesSent.fetch_add(1); },
        Qt::DirectConnection);
    connect(m_thread, &ImageProcessing::sendFarmeSignal, this, &QCameraView::updateImage,
            Qt::BlockingQueuedConnection);
    connect(m_thread, &ImageProcessing::sendTakePhotoImageSignal, this, &QCameraView::takePhotoImage,
            Qt::BlockingQueuedConnection);
    connect(m_thread, &ImageProcessing::openCameraSignal, this, &QCameraView::openCameraSlot);
    connect(m_thread, &ImageProcessing::closeCameraSignal, this, &QCameraView::closeCameraSlot);
    connect(m_thread, &ImageProcessing::photoFailedSignal, this, &QCameraView::warningSignal);
    // Queued even when the GUI thread opens the camera: the holder's warning
    // box must not run its event loop in the middle of an open.
    connect(m_thread, &ImageProcessing::cameraErrorSignal, this, &QCameraView::warningSignal, Qt::QueuedConnection);
    // Made now, before the loop can end, so that a thread still running at
    // destruction frees itself when it is done.
    connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);

    m_writerTimer = new QTimer(this);
    connect(m_writerTimer, &QTimer::timeout, this, &QCameraView::onWriterTimer);
}

QCameraView::~QCameraView()
{
    // The files of a running recording are completed; nobody is told, the holder is going away.
    stopRecording();
    m_stopped.clear();

    // A picture may be waiting for this widget while the loop blocks on its
    // hand-over: dropping it releases the loop so that end() need not time out.
    disconnect(m_thread, nullptr, this, nullptr);
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    m_thread->end();
    // A loop that did not stop in time is deleted by its finished() connection.
    if (m_thread->wait(0))
        delete m_thread;
}

QSize QCameraView::cameraSize(int index) const
{
    return chosenFrameSize(*Cache::cameras, index, Cache::config->snapshot().imageResolution);
}

void QCameraView::init(int index)
{
    m_cameraIndex = index;
    m_thread->setCameraIndex(index);
    const QSize size = cameraSize(index);
    if (size.isValid())
        m_thread->setFrameWidthAndHeight(size.width(), size.height());
    m_thread->openCamara();
    m_opening = true;
}

void QCameraView::dropPicturesInFlight()
{
    m_staleUpTo = m_picturesSent.load();
}

void QCameraView::openCamara()
{
    m_thread->openCamara();
    m_opening = true;
}

void QCameraView::closeCamara()
{
    m_thread->closeCamara(true);
    dropPicturesInFlight();
    emit closeCameraSignal();
}

void QCameraView::changeCamera(int index, int width, int height)
{
    m_thread->closeCamara(true);
    dropPicturesInFlight();
    emit closeCameraSignal();
    m_cameraIndex = index;
    m_thread->setCameraIndex(index);
    if (width != 0)
        m_thread->setFrameWidth(width);
    if (height != 0)
        m_thread->setFrameHeight(height);
    m_thread->openCamara();
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
            qDebug() << "picture-in-picture size index" << capIndex << "is not an output size; no cap applied";
        }
    }
    m_thread->setCameraResolution(size);
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
        // Pictures until the loop reports its close come from before the reopen.
        m_awaitingLoopClose = true;
    }
    m_thread->reConfigVideoSetting();
}

void QCameraView::setCameraExposure(int value)
{
    m_thread->setCameraExposure(value);
}

void QCameraView::setAngle(int step)
{
    m_thread->setAngle(step);
}

void QCameraView::setCameraCorrection(int mode)
{
    m_thread->setCameraCorrection(mode);
}

void QCameraView::setCameraShootType(int type)
{
    m_thread->setCameraShootType(type);
}

void QCameraView::setTakePhotoChildCamera(bool on)
{
    m_thread->setTakePhotoChildCamera(on);
}

void QCameraView::setSaveImageToTiff(bool on)
{
    m_thread->setSaveImageToTiff(on);
}

void QCameraView::setTakePhotoCammond(QImage first, QImage second, bool firstPresent, bool secondPresent)
{
    m_thread->setTakePhotoCammond(std::move(first), std::move(second), firstPresent, secondPresent);
}

void QCameraView::videoSettingOpenWindow() {}

void QCameraView::updateImage(QImage image)
{
    const tsanhandover::SlotDone slotDone;
    if (++m_picturesArrived <= m_staleUpTo)
        return;
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
    const tsanhandover::SlotDone slotDone;
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
        m_zoomSteps = 0;
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
    update();
}

void QCameraView::onZoomInImage()
{
    ++m_zoomSteps;
    update();
}

void QCameraView::onZoomOutImage()
{
    if (zoomOut())
        update();
}

void QCameraView::onPresetImage()
{
    m_pan = QPoint();
    m_zoomSteps = 0;
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
    const cv::Mat frame = m_thread->currentFrame();
    if (frame.empty()) {
        emit warningSignal(tr("没有可录制的画面。"));
        return;
    }
    const QString directory = Cache::config->snapshot().workDirectory();
    auto recorder = std::make_unique<VideoRecorder>(directory, QDateTime::currentDateTime(), m_recordingLimits, this);
    if (!recorder->start(frame.size())) {
        emit warningSignal(recorder->errorString());
        return;
    }
    VideoRecorder *started = recorder.get();
    // Queued: the recorder says it is done from its own thread.
    connect(started, &VideoRecorder::finishedSignal, this, [this, started] { recorderFinished(started); });
    m_recordingFilePath = recorder->firstFilePath();
    m_recorder = std::move(recorder);
    m_recording = true;
    m_writerTimer->start(kWriterIntervalMs);
}

void QCameraView::onWriterTimer()
{
    if (!m_recording || !m_recorder || m_image.isNull())
        return;
    // Taking a frame makes the loop read into a fresh buffer, so only take one when it is needed.
    if (m_recorder->framesDue() <= 0)
        return;
    const cv::Mat frame = m_thread->currentFrame();
    if (!frame.empty())
        m_recorder->addFrame(frame);
}

void QCameraView::stopRecording()
{
    m_writerTimer->stop();
    m_recording = false;
    if (!m_recorder)
        return;
    // Fill the files up to this moment with the last frame.
    const cv::Mat frame = m_thread->currentFrame();
    if (!frame.empty())
        m_recorder->addFrame(frame);
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
