#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>

class CameraViewDialog;
class ImageMergingDialog;
class ImageProcessing;
class ImageSavePDFOrTiffDialog;
class QButtonGroup;
class QLabel;
class QTimer;
class SettingDialog;
class ShutterSound;
class ThumbnailLoader;
class Ui_MainWindowQCamera;

// The program's only top-level window: live preview, option panel, shooting
// buttons and the ring of result thumbnails. It owns every dialog the user can open.
class MainWindowQCamera : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kSlotCount = 10;
    // Where a secondary camera dialog opens, from the window's top-left corner.
    static constexpr int kSecondaryDialogDx = 10;
    static constexpr int kSecondaryDialogDy = 65;

    explicit MainWindowQCamera(QWidget *parent = nullptr);
    ~MainWindowQCamera() override;

    // The camera that is not the main one: 2 for 0, 0 for 2, else the main index itself.
    static int secondaryCameraIndex(int mainIndex);

    // Asks for the work folder, starting at `start`; an empty answer is a
    // cancel. The standard folder dialog unless a test stands in for it.
    using DirectoryChooser = std::function<QString(QWidget *parent, const QString &start)>;
    void setDirectoryChooser(DirectoryChooser chooser) { m_directoryChooser = std::move(chooser); }

private slots:
    void on_btnleft_2_clicked();
    void on_btnupdown_2_clicked();
    void on_btnright_2_clicked();
    void on_btnToggleDevice_2_clicked();
    void on_cbAutoExp_2_stateChanged(int state);
    void on_tbExposure_2_valueChanged(int value);
    void on_btnSecCamCon_2_clicked();
    void on_btnSecCam1Con_2_clicked();
    void on_chMergeImage_2_stateChanged(int state);
    void on_btnOpenUserWorkDir_2_clicked();
    void on_btnSelectWorkDir_2_clicked();
    void on_check_image_merging_2_stateChanged(int state);
    void on_cbSaveTiffImage_2_stateChanged(int state);
    void on_btnSetting_2_clicked();
    void on_btnShooting_clicked();
    // The capture thread saw a new page settle (book scanning in the PDF dialog).
    void pageTurned();
    void on_btnShootingTime_clicked();
    void on_btnShootingVideo_clicked();
    void on_pushButton_clicked();
    void on_btnSavePdfTiff_clicked();

public slots:
    void takePhoto();
    void videoSetting();
    void reConfigVideoSetting();
    void takePhotoImage(QList<QString> paths, int kind);
    void buttonGroupCorrectionClicked(int id);
    void buttonGroupShootingTypeClicked(int id);
    void openCamera();
    void closeCamera();
    void changePaintingResolution(bool isSetOrRecover);
    bool checkShootingTime();
    bool checkShootingVideo();
    void onShootingTimer();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void warn(const QString &text);
    // A warning from the preview; a recording that failed has ended by itself.
    void previewWarning(const QString &text);
    void showRecordingIdle();
    QLabel *thumbnail(int slot) const;
    void toggleSecondaryDialog(CameraViewDialog *dialog, int camerasRequired);
    // Ends the capture session of a secondary dialog that has closed.
    void releaseSecondarySession(CameraViewDialog *dialog);
    // Closes each dialog of the list that is visible, in order.
    static void closeVisible(std::initializer_list<QDialog *> dialogs);
    // Shows one document dialog freshly emptied, closing the other; a second press closes it.
    void toggleDocumentDialog(QDialog *shown, QDialog *other);
    void stopTimedShooting();
    // Ends a running recording (reporting its files) and stops timed shooting.
    void finishCaptureWork();

    std::unique_ptr<Ui_MainWindowQCamera> m_ui;
    // The main camera's capture session, and one per secondary dialog while it is open.
    ImageProcessing *m_session = nullptr;
    QHash<CameraViewDialog *, ImageProcessing *> m_secondarySessions;
    SettingDialog *m_settingDialog = nullptr;
    CameraViewDialog *m_cameraViewDialog = nullptr;
    CameraViewDialog *m_cameraViewDialog1 = nullptr;
    ImageMergingDialog *m_imageMergingDialog = nullptr;
    ImageSavePDFOrTiffDialog *m_imageSavePdfOrTiffDialog = nullptr;
    QButtonGroup *m_correctionGroup = nullptr;
    QButtonGroup *m_shootingTypeGroup = nullptr;
    QTimer *m_shootingTimer = nullptr;
    int m_nextSlot = 1;
    int m_slotCount = kSlotCount;
    QList<QString> m_slotPaths;
    // Thumbnails are decoded off the GUI thread; each slot keeps the ticket of the one it waits for.
    ThumbnailLoader *m_thumbnails = nullptr;
    QList<quint64> m_slotTickets;
    bool m_constructed = false;
    bool m_timedShooting = false;
    // A timed photograph was asked for and has not been reported yet.
    bool m_timedPhotoPending = false;
    bool m_videoRecording = false;
    ShutterSound *m_shutterSound = nullptr;
    DirectoryChooser m_directoryChooser;
};
