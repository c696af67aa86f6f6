#include "mainwindow/mainwindowqcamera.h"

#include "ui_mainwindowqcamera.h"

#include "app/cache.h"
#include "app/logging.h"
#include "engine/imageprocessing.h"
#include "mainwindow/shuttersound.h"
#include "mainwindow/startup.h"
#include "output/imagemergingdialog.h"
#include "output/imagesavepdfortiffdialog.h"
#include "output/thumbnailloader.h"
#include "settings/settingdialog.h"
#include "views/cameraviewdialog.h"
#include "views/qcameraview.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QStyleOption>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

const QString kThumbnailPrefix = QStringLiteral("pic2");
const QString kPlaceholderPicture = QStringLiteral("/Resources/back/Picture_90.png");
const QString kPdfPicture = QStringLiteral("/Resources/pdf.png");
const QString kVideoPicture = QStringLiteral("/Resources/recored.png");
const QString kTiffPicture = QStringLiteral("/Resources/tiff.png");
const QString kLogoPicture = QStringLiteral("/Resources/vorlant.png");
const QString kIconFolder = QStringLiteral("/Resources/icon/");
const QString kShutterSound = QStringLiteral("/Resources/shutter.wav");

QString standardDirectoryChooser(QWidget *parent, const QString &start)
{
    return QFileDialog::getExistingDirectory(parent, QString(), start, QFileDialog::ShowDirsOnly);
}

// Pictures in the strip are stretched over the label from this size.
const QSize kThumbnailPictureSize(200, 200);

const QString kNewestStyle =
    QStringLiteral("border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:red;");
const QString kFormerNewestStyle =
    QStringLiteral("border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:transparent");
const QString kShootingButtonStyle =
    QStringLiteral("border:1px groove gray;border-radius:3px;padding:2px 4px;background-image: url(%1/%2);"
                   "background-repeat: no-repeat;background-position: top ;");

constexpr int kMillisecondsPerSecond = 1000;
// The longest interval a timer can be given, in whole seconds.
constexpr int kMaxShootingSeconds = std::numeric_limits<int>::max() / kMillisecondsPerSecond;
constexpr int kCheckedState = Qt::Checked;

QString appPath(const QString &relative)
{
    return Cache::config->appDirPath + relative;
}

// Recordings are reported as results too, but only photographs go into documents.
bool isRecording(const QString &path)
{
    return path.endsWith(QLatin1String(".avi"), Qt::CaseInsensitive);
}

} // namespace

MainWindowQCamera::MainWindowQCamera(QWidget *parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui_MainWindowQCamera>()), m_directoryChooser(standardDirectoryChooser)
{
    Config *config = Cache::config;
    m_ui->setupUi(this);
    m_session = new ImageProcessing(this);
    m_ui->video->setSession(m_session);
    m_session->begin();
    m_ui->lbUserWorkDir_2->setText(config->userDocumentsLocation);
    connect(m_ui->video, &QCameraView::sendTakePhotoImageSignal, this, &MainWindowQCamera::takePhotoImage);
    connect(m_ui->video, &QCameraView::warningSignal, this, &MainWindowQCamera::previewWarning);

    m_shootingTimer = new QTimer(this);
    connect(m_shootingTimer, &QTimer::timeout, this, &MainWindowQCamera::onShootingTimer);

    m_settingDialog = new SettingDialog(this);
    connect(m_settingDialog, &SettingDialog::videSettingSignal, this, &MainWindowQCamera::videoSetting);
    connect(m_settingDialog, &SettingDialog::reConfigVideoSettingSignal, this,
            &MainWindowQCamera::reConfigVideoSetting);

    m_cameraViewDialog = new CameraViewDialog(this);
    m_cameraViewDialog1 = new CameraViewDialog(this);
    for (CameraViewDialog *dialog : {m_cameraViewDialog, m_cameraViewDialog1}) {
        connect(dialog, &CameraViewDialog::closeView, this, &MainWindowQCamera::changePaintingResolution);
        connect(dialog, &CameraViewDialog::closeView, this, [this, dialog] { releaseSecondarySession(dialog); });
    }

    m_imageMergingDialog = new ImageMergingDialog(this);
    connect(m_imageMergingDialog, &ImageMergingDialog::takePhotoSignals, this,
            &MainWindowQCamera::on_btnShooting_clicked);
    connect(m_imageMergingDialog, &ImageMergingDialog::saveImageMergingSignals, this,
            &MainWindowQCamera::takePhotoImage);
    m_imageSavePdfOrTiffDialog = new ImageSavePDFOrTiffDialog(this);
    connect(m_imageSavePdfOrTiffDialog, &ImageSavePDFOrTiffDialog::takePhotoSignals, this,
            &MainWindowQCamera::on_btnShooting_clicked);
    connect(m_imageSavePdfOrTiffDialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals, this,
            &MainWindowQCamera::takePhotoImage);
    connect(m_settingDialog, &SettingDialog::defaultSettingsRestoredSignal, m_imageSavePdfOrTiffDialog,
            &ImageSavePDFOrTiffDialog::refreshSwitches);
    // Book scanning: while the dialog asks for it the capture thread watches
    // for page turns, and each new page is shot as the dialog's "拍摄" would.
    connect(m_imageSavePdfOrTiffDialog, &ImageSavePDFOrTiffDialog::watchPageTurnsSignal, m_session,
            &ImageProcessing::setWatchPageTurns);
    connect(m_session, &ImageProcessing::pageTurnedSignal, this, &MainWindowQCamera::pageTurned);

    m_thumbnails = new ThumbnailLoader(this);
    connect(m_thumbnails, &ThumbnailLoader::loaded, this, [this](quint64 ticket, const QImage &picture) {
        const int slot = int(m_slotTickets.indexOf(ticket));
        if (slot >= 0)
            thumbnail(slot + 1)->setPixmap(QPixmap::fromImage(picture));
    });
    for (int n = 1; n <= m_slotCount; ++n) {
        m_slotPaths.append(QString());
        m_slotTickets.append(0);
        QLabel *label = thumbnail(n);
        label->installEventFilter(this);
        label->setPixmap(QPixmap(appPath(kPlaceholderPicture)));
    }

    // A stored index that names no camera found now, negative included, starts on the first one.
    if (config->cameraIndex < 0 || config->cameraIndex >= Cache::cameras->size())
        config->update([](ConfigValues &v) { v.cameraIndex = 0; });

    m_correctionGroup = new QButtonGroup(this);
    m_correctionGroup->addButton(m_ui->rb_correction_10, 0);
    m_correctionGroup->addButton(m_ui->rb_correction_11, 1);
    m_correctionGroup->addButton(m_ui->rb_correction_12, 2);
    m_correctionGroup->addButton(m_ui->rb_correction_13, 3);
    connect(m_correctionGroup, &QButtonGroup::idClicked, this, &MainWindowQCamera::buttonGroupCorrectionClicked);
    m_ui->rb_correction_13->hide();

    m_shootingTypeGroup = new QButtonGroup(this);
    m_shootingTypeGroup->addButton(m_ui->rb_Shooting_10, 0);
    m_shootingTypeGroup->addButton(m_ui->rb_Shooting_11, 1);
    m_shootingTypeGroup->addButton(m_ui->rb_Shooting_12, 2);
    m_shootingTypeGroup->addButton(m_ui->rb_Shooting_13, 3);
    connect(m_shootingTypeGroup, &QButtonGroup::idClicked, this, &MainWindowQCamera::buttonGroupShootingTypeClicked);

    m_constructed = true;

    connect(m_ui->video, &QCameraView::openCameraSignal, this, &MainWindowQCamera::openCamera);
    connect(m_ui->video, &QCameraView::closeCameraSignal, this, &MainWindowQCamera::closeCamera);

    m_ui->lb_exposure_2->hide();
    m_ui->lb_exposure_header_2->hide();
    m_ui->cbAutoExp_2->hide();
    m_ui->tbExposure_2->hide();

    m_ui->video->init(config->cameraIndex);

    m_ui->picLogo_2->setPixmap(QPixmap(appPath(kLogoPicture)));

    const QString icons = appPath(kIconFolder);
    m_ui->btnleft_2->setIcon(QIcon(icons + QStringLiteral("icon_oleft.png")));
    m_ui->btnupdown_2->setIcon(QIcon(icons + QStringLiteral("icon_sync.png")));
    m_ui->btnright_2->setIcon(QIcon(icons + QStringLiteral("icon_oright.png")));
    m_ui->btnToggleDevice_2->setIcon(QIcon(icons + QStringLiteral("icon_toggle_16.png")));
    m_ui->btnSecCamCon_2->setIcon(QIcon(icons + QStringLiteral("icon_webcam.png")));
    m_ui->btnSecCam1Con_2->setIcon(QIcon(icons + QStringLiteral("icon_webcam.png")));
    m_ui->btnSecCamCon_2->hide();

    m_ui->btnShootingVideo->setStyleSheet(kShootingButtonStyle.arg(icons, QStringLiteral("icon_video_32_line.png")));
    m_ui->btnShootingTime->setStyleSheet(kShootingButtonStyle.arg(icons, QStringLiteral("icon_snap_clock.png")));
    m_ui->btnSetting_2->setStyleSheet(kShootingButtonStyle.arg(icons, QStringLiteral("icon_setting_32.png")));
    m_ui->btnShooting->setStyleSheet(kShootingButtonStyle.arg(icons, QStringLiteral("icon_snap_32.png")));

    m_ui->check_image_merging_2->hide();
    m_ui->cbSaveTiffImage_2->hide();
    m_ui->lbSecCon_2->hide();
    m_ui->btnSecCam1Con_2->hide();
    m_ui->chMergeImage_2->hide();

    m_ui->lbcompany_2->setText(tr("vorlant %1").arg(QStringLiteral(VORLANT_VERSION)));
    m_shutterSound = new ShutterSound(appPath(kShutterSound), this);
}

MainWindowQCamera::~MainWindowQCamera()
{
    finishCaptureWork();
    // The sessions go before the widgets showing them; none waits for a camera stuck in a read.
    for (CameraViewDialog *dialog : {m_cameraViewDialog, m_cameraViewDialog1})
        releaseSecondarySession(dialog);
    m_ui->video->setSession(nullptr);
    ImageProcessing::dispose(m_session);
    m_session = nullptr;
    if (m_constructed)
        Cache::config->save();
}

int MainWindowQCamera::secondaryCameraIndex(int mainIndex)
{
    if (mainIndex == 0)
        return 2;
    if (mainIndex == 2)
        return 0;
    return mainIndex;
}

QLabel *MainWindowQCamera::thumbnail(int slot) const
{
    return findChild<QLabel *>(kThumbnailPrefix + QString::number(slot));
}

void MainWindowQCamera::warn(const QString &text)
{
    QMessageBox::warning(this, tr("警告"), text);
}

void MainWindowQCamera::previewWarning(const QString &text)
{
    if (m_videoRecording && !m_ui->video->isRecording()) {
        m_videoRecording = false;
        showRecordingIdle();
    }
    // Each tick would fail again for the same reason, with a box of its own.
    if (m_timedShooting) {
        stopTimedShooting();
        warn(tr("定时拍摄已停止：\n%1").arg(text));
        return;
    }
    warn(text);
}

void MainWindowQCamera::showRecordingIdle()
{
    m_ui->btnShootingVideo->setText(tr("\n\n录像"));
    m_ui->lb_video_tip->setText(tr("视频加载中，请稍候......"));
    m_ui->lb_video_tip->hide();
}

void MainWindowQCamera::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

void MainWindowQCamera::closeEvent(QCloseEvent *event)
{
    finishCaptureWork();
    QMainWindow::closeEvent(event);
}

void MainWindowQCamera::stopTimedShooting()
{
    m_shootingTimer->stop();
    m_timedShooting = false;
    m_ui->btnShootingTime->setText(tr("\n\n定时"));
    m_ui->lb_video_tip->setText(tr("视频加载中，请稍候......"));
    m_ui->lb_video_tip->hide();
}

void MainWindowQCamera::finishCaptureWork()
{
    if (m_timedShooting)
        stopTimedShooting();
    if (m_videoRecording) {
        m_videoRecording = false;
        m_ui->btnShootingVideo->setText(tr("\n\n录像"));
        qCDebug(lcRecording) << "recording ended at close:" << m_ui->video->recordingFilePath();
        m_ui->video->recordEnd();
    }
}

void MainWindowQCamera::openCamera()
{
    m_ui->lb_video_tip->hide();
}

void MainWindowQCamera::closeCamera()
{
    m_ui->lb_video_tip->show();
}

void MainWindowQCamera::reConfigVideoSetting()
{
    m_ui->video->reConfigVideoSetting();
}

void MainWindowQCamera::videoSetting()
{
    m_ui->video->videoSettingOpenWindow();
}

bool MainWindowQCamera::checkShootingTime()
{
    if (m_timedShooting)
        warn(tr("定时拍摄中......"));
    return m_timedShooting;
}

bool MainWindowQCamera::checkShootingVideo()
{
    if (m_videoRecording)
        warn(tr("录像中......"));
    return m_videoRecording;
}

void MainWindowQCamera::takePhoto()
{
    const bool secondPresent = m_cameraViewDialog1->isVisible();
    const bool firstPresent = m_cameraViewDialog->isVisible();
    QImage second = m_cameraViewDialog1->getChildImage();
    QImage first = m_cameraViewDialog->getChildImage();
    m_ui->video->setTakePhotoCammond(std::move(first), std::move(second), firstPresent, secondPresent);
}

void MainWindowQCamera::pageTurned()
{
    // A turn reported just before the dialog closed or its switch went off is dropped.
    if (m_imageSavePdfOrTiffDialog->isWatchingPageTurns())
        on_btnShooting_clicked();
}

void MainWindowQCamera::on_btnShooting_clicked()
{
    if (checkShootingVideo() || checkShootingTime())
        return;
    takePhoto();
}

void MainWindowQCamera::onShootingTimer()
{
    // A slow disk must not pile up requests, nor a failure come twice.
    if (m_timedPhotoPending) {
        qCDebug(lcCapture) << "timed photograph skipped: the last one is still being written";
        return;
    }
    m_timedPhotoPending = true;
    takePhoto();
}

void MainWindowQCamera::on_btnShootingTime_clicked()
{
    if (checkShootingVideo())
        return;
    // Refused before anything changes: a zero interval would fire on every
    // pass of the event loop.
    const int seconds = Cache::config->imageShootingTime;
    if (!m_timedShooting && seconds <= 0) {
        warn(tr("定时拍照时间间隔为%1秒，无法定时拍摄。请在“设置”中把“定时拍照时间间隔(秒)”设为大于0的秒数。")
                 .arg(seconds));
        return;
    }
    closeVisible({m_imageMergingDialog, m_imageSavePdfOrTiffDialog});

    if (m_timedShooting) {
        stopTimedShooting();
        return;
    }
    m_ui->btnShootingTime->setText(tr("\n\n拍照中"));
    m_ui->lb_video_tip->setText(tr("定时拍照中......"));
    m_ui->lb_video_tip->show();
    m_timedPhotoPending = false;
    m_shootingTimer->start(std::min(seconds, kMaxShootingSeconds) * kMillisecondsPerSecond);
    m_timedShooting = true;
}

void MainWindowQCamera::on_btnShootingVideo_clicked()
{
    if (checkShootingTime())
        return;
    if (m_ui->video->isOpening()) {
        warn(tr("视频切换中，请等摄像头准备就绪了再进行录制，谢谢......"));
        return;
    }
    closeVisible({m_imageMergingDialog, m_imageSavePdfOrTiffDialog, m_cameraViewDialog, m_cameraViewDialog1});

    if (m_videoRecording) {
        showRecordingIdle();
        m_ui->video->recordEnd();
    } else {
        m_ui->btnShootingVideo->setText(tr("\n\n录像中"));
        m_ui->lb_video_tip->setText(tr("视频录像中......"));
        m_ui->lb_video_tip->show();
        m_ui->video->recordBegin();
        // A recording that could not start has been reported; the window must not claim one runs.
        if (!m_ui->video->isRecording()) {
            showRecordingIdle();
            return;
        }
    }
    m_videoRecording = !m_videoRecording;
}

void MainWindowQCamera::takePhotoImage(QList<QString> paths, int kind)
{
    // Documents a dialog wrote (kind 1) and recordings are never fed into a dialog.
    QList<QString> photographs;
    if (kind == 0)
        std::copy_if(paths.cbegin(), paths.cend(), std::back_inserter(photographs),
                     [](const QString &path) { return !isRecording(path); });
    // Every photograph request ends in one report, empty when it failed.
    if (kind == 0 && photographs.size() == paths.size())
        m_timedPhotoPending = false;
    if (m_imageMergingDialog->isVisible() && !photographs.isEmpty())
        m_imageMergingDialog->setImage(photographs);
    if (m_imageSavePdfOrTiffDialog->isVisible() && !photographs.isEmpty())
        m_imageSavePdfOrTiffDialog->setImage(photographs);

    int previous = m_nextSlot - 1;
    int lastFilled = 0;
    bool photograph = false;
    for (const QString &path : paths) {
        if (m_nextSlot < 1)
            m_nextSlot = 1;
        QLabel *label = thumbnail(m_nextSlot);
        const bool icon = path.endsWith(QLatin1String("pdf")) || path.endsWith(QLatin1String("avi"));
        if (icon) {
            const QString picture = appPath(path.endsWith(QLatin1String("pdf")) ? kPdfPicture : kVideoPicture);
            label->setPixmap(QPixmap(picture));
            label->setScaledContents(false);
            m_slotTickets[m_nextSlot - 1] = 0;
        } else {
            const bool tiff = path.endsWith(QLatin1String("tiff"));
            photograph = photograph || (kind == 0 && !tiff);
            // Decoded away from the window, at the size shown; the slot is blank meanwhile.
            label->setPixmap(QPixmap());
            label->setScaledContents(true);
            m_slotTickets[m_nextSlot - 1] =
                m_thumbnails->load(tiff ? appPath(kTiffPicture) : path, kThumbnailPictureSize, Qt::IgnoreAspectRatio);
        }
        m_slotPaths[m_nextSlot - 1] = path;
        lastFilled = m_nextSlot;
        if (++m_nextSlot > m_slotCount)
            m_nextSlot = 1;
    }
    if (previous == 0)
        previous = m_slotCount;
    thumbnail(previous)->setStyleSheet(kFormerNewestStyle);
    if (lastFilled != 0)
        thumbnail(lastFilled)->setStyleSheet(kNewestStyle);

    if (photograph && Cache::config->savePlaysound)
        m_shutterSound->play();
}

bool MainWindowQCamera::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress && watched->objectName().startsWith(kThumbnailPrefix)) {
        const int n = QString(watched->objectName()).remove(kThumbnailPrefix).toInt();
        if (n - 1 >= 0 && n - 1 < m_slotPaths.size() && !m_slotPaths.at(n - 1).isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(m_slotPaths.at(n - 1)));
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindowQCamera::on_btnleft_2_clicked()
{
    if (!checkShootingVideo())
        m_ui->video->setAngle(-1);
}

void MainWindowQCamera::on_btnupdown_2_clicked()
{
    if (!checkShootingVideo())
        m_ui->video->setAngle(0);
}

void MainWindowQCamera::on_btnright_2_clicked()
{
    if (!checkShootingVideo())
        m_ui->video->setAngle(1);
}

void MainWindowQCamera::buttonGroupCorrectionClicked(int id)
{
    const bool refused = checkShootingVideo();
    // Custom correction is never passed on; a refused or ignored choice must not stay on show.
    if (refused || id == 3) {
        if (QAbstractButton *inForce = m_correctionGroup->button(m_session->cameraCorrection()))
            inForce->setChecked(true);
        return;
    }
    m_ui->video->setCameraCorrection(id);
}

void MainWindowQCamera::buttonGroupShootingTypeClicked(int id)
{
    if (checkShootingVideo()) {
        if (QAbstractButton *inForce = m_shootingTypeGroup->button(m_session->cameraShootType()))
            inForce->setChecked(true);
        return;
    }
    m_ui->video->setCameraShootType(id);
}

void MainWindowQCamera::on_cbAutoExp_2_stateChanged(int state)
{
    if (state == kCheckedState) {
        m_ui->tbExposure_2->setEnabled(false);
        m_ui->video->setCameraExposure(ImageProcessing::kAutoExposure);
    } else {
        m_ui->tbExposure_2->setEnabled(true);
    }
}

void MainWindowQCamera::on_tbExposure_2_valueChanged(int value)
{
    Cache::config->update([value](ConfigValues &v) { v.cameraExposure = value; });
    m_ui->lb_exposure_2->setText(QString::number(value));
    m_ui->video->setCameraExposure(Cache::config->cameraExposure);
}

void MainWindowQCamera::on_chMergeImage_2_stateChanged(int state)
{
    m_ui->video->setTakePhotoChildCamera(state == kCheckedState);
}

void MainWindowQCamera::on_cbSaveTiffImage_2_stateChanged(int state)
{
    m_ui->video->setSaveImageToTiff(state == kCheckedState);
}

void MainWindowQCamera::on_btnOpenUserWorkDir_2_clicked()
{
    // Where files actually go: an empty setting means the default folder.
    const QString directory = Cache::config->snapshot().workDirectory();
    if (!QDir(directory).exists())
        QDir().mkpath(directory);
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(directory).absolutePath()));
}

void MainWindowQCamera::on_btnSelectWorkDir_2_clicked()
{
    const QString chosen = m_directoryChooser(this, Cache::config->snapshot().workDirectory());
    if (chosen.isEmpty())
        return;
    Cache::config->update([&chosen](ConfigValues &v) { v.userDocumentsLocation = chosen; });
    m_ui->lbUserWorkDir_2->setText(chosen);
}

void MainWindowQCamera::on_btnSetting_2_clicked()
{
    if (checkShootingVideo() || m_settingDialog->isVisible())
        return;
    m_settingDialog->show();
    m_settingDialog->init();
}

void MainWindowQCamera::closeVisible(std::initializer_list<QDialog *> dialogs)
{
    for (QDialog *dialog : dialogs) {
        if (dialog->isVisible())
            dialog->close();
    }
}

void MainWindowQCamera::toggleDocumentDialog(QDialog *shown, QDialog *other)
{
    if (checkShootingVideo() || checkShootingTime())
        return;
    if (shown->isVisible()) {
        shown->close();
        return;
    }
    closeVisible({other});
    // init() is not virtual: call it on the dialog's own type.
    if (shown == m_imageMergingDialog)
        m_imageMergingDialog->init();
    else
        m_imageSavePdfOrTiffDialog->init();
    shown->show();
}

void MainWindowQCamera::on_pushButton_clicked()
{
    toggleDocumentDialog(m_imageMergingDialog, m_imageSavePdfOrTiffDialog);
}

void MainWindowQCamera::on_btnSavePdfTiff_clicked()
{
    toggleDocumentDialog(m_imageSavePdfOrTiffDialog, m_imageMergingDialog);
}

void MainWindowQCamera::on_check_image_merging_2_stateChanged(int state)
{
    if (state != kCheckedState) {
        closeVisible({m_imageMergingDialog});
        return;
    }
    if (checkShootingVideo() || checkShootingTime() || m_imageMergingDialog->isVisible())
        return;
    m_imageMergingDialog->init();
    m_imageMergingDialog->show();
}

void MainWindowQCamera::on_btnToggleDevice_2_clicked()
{
    if (checkShootingVideo() || checkShootingTime())
        return;
    if (m_cameraViewDialog->isVisible() || m_cameraViewDialog1->isVisible()) {
        warn(tr("画中画功能已经启用"));
        return;
    }
    const int index = secondaryCameraIndex(Cache::config->cameraIndex);
    if (index < 0 || index >= Cache::cameras->size()) {
        warn(tr("未检测到可切换的摄像头"));
        return;
    }
    Cache::config->update([index](ConfigValues &v) {
        v.cameraIndex = index;
        v.imageResolution = 0;
        v.imageFourcc = 0;
    });
    m_ui->video->changeCamera(index, 0, 0);
}

void MainWindowQCamera::toggleSecondaryDialog(CameraViewDialog *dialog, int camerasRequired)
{
    if (checkShootingVideo())
        return;
    const int index = secondaryCameraIndex(Cache::config->cameraIndex);
    const int cameras = Cache::cameras->size();
    // The dialog's preview looks the camera up in the list: it must be there.
    if (cameras < camerasRequired || index < 0 || index >= cameras) {
        warn(tr("未检测到子摄像头"));
        return;
    }
    if (dialog->isVisible()) {
        dialog->close();
        return;
    }
    auto *session = new ImageProcessing(this);
    m_secondarySessions.insert(dialog, session);
    dialog->view()->setSession(session);
    session->begin();
    dialog->SetCamera(index);
    dialog->show();
    dialog->move(pos() + QPoint(kSecondaryDialogDx, kSecondaryDialogDy));
    changePaintingResolution(true);
}

void MainWindowQCamera::releaseSecondarySession(CameraViewDialog *dialog)
{
    ImageProcessing *session = m_secondarySessions.take(dialog);
    if (!session)
        return;
    dialog->view()->setSession(nullptr);
    ImageProcessing::dispose(session);
}

void MainWindowQCamera::on_btnSecCamCon_2_clicked()
{
    toggleSecondaryDialog(m_cameraViewDialog, 2);
}

void MainWindowQCamera::on_btnSecCam1Con_2_clicked()
{
    toggleSecondaryDialog(m_cameraViewDialog1, 3);
}

void MainWindowQCamera::changePaintingResolution(bool isSetOrRecover)
{
    if (isSetOrRecover) {
        m_ui->video->changeCameraResolution(true, true);
        return;
    }
    if (m_cameraViewDialog->isVisible() && m_cameraViewDialog1->isVisible())
        return;
    m_ui->video->changeCameraResolution(false, true);
}

QWidget *createMainWindow()
{
    return new MainWindowQCamera();
}
