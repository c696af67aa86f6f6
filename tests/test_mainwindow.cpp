#include "app/cache.h"
#include "app/discovery.h"
#include "engine/imageprocessing.h"
#include "mainwindow/mainwindowqcamera.h"
#include "mainwindow/shuttersound.h"
#include "output/imagemergingdialog.h"
#include "output/imagesavepdfortiffdialog.h"
#include "support/filesizelimit.h"
#include "support/thumbnails.h"
#include "support/workingdir.h"
#include "views/cameraviewdialog.h"
#include "views/qcameraview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const QString kRed = QStringLiteral("border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:red;");
const QString kUnred =
    QStringLiteral("border-radius:3px;border:1px groove gray;padding:2px 4px;background-color:transparent");
const QString kRecording = QStringLiteral("录像中......");
const QString kTimed = QStringLiteral("定时拍摄中......");

// Closes every modal box as soon as it shows, noting "title|text".
class ModalCloser : public QObject {
public:
    QStringList seen;

    ModalCloser()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                seen << box->windowTitle() + QLatin1Char('|') + box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

struct UrlCatcher : QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

QImage filled(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QString resource(const QString &name)
{
    return Cache::config->appDirPath + QStringLiteral("/Resources/") + name;
}

template <typename T> T *child(QWidget &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qWarning() << "no" << name;
    return found;
}

QCameraView *view(QWidget &window)
{
    return child<QCameraView>(window, QStringLiteral("video"));
}

bool waitUntilOpen(QWidget &window)
{
    return QTest::qWaitFor([&] { return !view(window)->isOpening() && view(window)->receivedFrames() > 0; }, 10000);
}

// "btnShooting", or "SomeDialog/btnPhoto" for a button of one of the window's dialogs.
void click(QWidget &window, const QString &name)
{
    QWidget *parent = &window;
    if (name.contains('/'))
        parent = child<QDialog>(window, name.section('/', 0, 0));
    QVERIFY(parent);
    QAbstractButton *button = child<QAbstractButton>(*parent, name.section('/', -1));
    QVERIFY(button);
    button->click();
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files, QDir::Name);
}

QList<CameraViewDialog *> secondaryDialogs(QWidget &window)
{
    return window.findChildren<CameraViewDialog *>(QString(), Qt::FindDirectChildrenOnly);
}

// Capture threads the window runs: one per camera shown.
int captureThreads(QWidget &window)
{
    const QList<ImageProcessing *> sessions = window.findChildren<ImageProcessing *>();
    return static_cast<int>(std::count_if(sessions.begin(), sessions.end(), [](ImageProcessing *s) {
        return s->isRunning();
    }));
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    std::unique_ptr<ScopedWorkingDir> m_wd;
    QString m_work;

    // Still pictures drawn by initTestCase stand in for the cameras.
    void useCameras(int count)
    {
        QStringList files;
        for (int n = 0; n < count; ++n)
            files << m_media.filePath(QStringLiteral("camera%1.png").arg(n));
        *Cache::cameras = discoverCameraFiles(files.join(QLatin1Char(':')));
        QCOMPARE(Cache::cameras->size(), count);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_media.isValid());
        // The first camera is large enough to be capped in picture-in-picture.
        const QList<QSize> sizes = {QSize(1280, 960), QSize(800, 600), QSize(640, 480)};
        const QList<QColor> colours = {QColor(40, 90, 160), QColor(160, 90, 40), QColor(40, 160, 90)};
        for (int n = 0; n < 3; ++n)
            QVERIFY(filled(sizes[n], colours[n]).save(m_media.filePath(QStringLiteral("camera%1.png").arg(n))));
        QVERIFY(filled(QSize(1600, 1200), Qt::red).save(m_media.filePath(QStringLiteral("photo.jpg"))));
        Cache::config->appDirPath = QFileInfo(qEnvironmentVariable("VORLANT_BINARY")).absolutePath();
        Cache::config->outputSizes = standardOutputSizes();
        QVERIFY(QFile::exists(resource(QStringLiteral("back/Picture_90.png"))));
    }

    void init()
    {
        m_wd = std::make_unique<ScopedWorkingDir>();
        m_work = m_wd->file(QStringLiteral("work"));
        QDir().mkpath(m_work);
        Cache::config->init();
        Cache::config->update([this](ConfigValues &v) {
            v.userDocumentsLocation = m_work;
            v.imageOutResolution = 11; // 640 x 480 keeps photographs quick
            v.paintingMainResolution = 11;
            v.paintingOtherResolution = 11;
        });
        useCameras(3);
    }

    void cleanup() { m_wd.reset(); }

    void form_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<bool>("hidden");
        auto row = [](const char *name, const char *kind, QRect geometry, bool hidden = false) {
            QTest::newRow(name) << QString(name) << QString(kind) << geometry << hidden;
        };
        row("picLogo_2", "QLabel", {3, 6, 230, 79});
        row("btnleft_2", "QPushButton", {70, 90, 32, 32});
        row("btnupdown_2", "QPushButton", {110, 90, 32, 32});
        row("btnright_2", "QPushButton", {150, 90, 32, 32});
        row("btnToggleDevice_2", "QPushButton", {190, 90, 32, 32});
        row("lbSecCon_2", "QLabel", {10, 140, 68, 14}, true);
        row("btnSecCamCon_2", "QPushButton", {70, 130, 32, 32}, true);
        row("btnSecCam1Con_2", "QPushButton", {110, 130, 32, 32}, true);
        row("chMergeImage_2", "QCheckBox", {160, 140, 71, 16}, true);
        row("gpimagepath_2", "QGroupBox", {10, 180, 221, 101});
        row("lbUserWorkDir_2", "QLineEdit", {12, 20, 191, 31});
        row("btnSelectWorkDir_2", "QPushButton", {120, 60, 91, 31});
        row("rb_correction_12", "QRadioButton", {10, 60, 89, 16});
        row("rb_correction_13", "QRadioButton", {120, 60, 89, 16}, true);
        row("groupShootingSetting_2", "QGroupBox", {10, 390, 221, 71});
        row("rb_Shooting_13", "QRadioButton", {120, 40, 89, 16});
        row("check_image_merging_2", "QCheckBox", {10, 20, 89, 16}, true);
        row("cbSaveTiffImage_2", "QCheckBox", {100, 20, 111, 20}, true);
        row("pushButton", "QPushButton", {10, 30, 80, 22});
        row("btnSavePdfTiff", "QPushButton", {100, 30, 101, 22});
        row("tbExposure_2", "QSlider", {70, 176, 81, 22}, true);
        row("cbAutoExp_2", "QCheckBox", {182, 180, 47, 16}, true);
        row("lb_exposure_2", "QLabel", {160, 180, 18, 12}, true);
        row("pic21", "QLabel", {10, 6, 58, 58});
        row("pic210", "QLabel", {550, 6, 58, 58});
        row("btnShootingVideo", "QPushButton", {150, 6, 58, 64});
        row("btnShooting", "QPushButton", {330, 6, 58, 64});
    }

    void form()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(bool, hidden);
        MainWindowQCamera window;
        window.show();
        QWidget *widget = window.findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(QString(widget->metaObject()->className()), kind);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->isHidden(), hidden);
    }

    void constructionCorrectsCameraIndex_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("opened");
        QTest::newRow("camera 3 with two cameras") << 2 << 3 << 0;
        QTest::newRow("negative index") << 2 << -1 << 0;
        QTest::newRow("index 2 is the last of three") << 3 << 2 << 2;
        QTest::newRow("valid index, nothing changed") << 2 << 1 << 1;
    }

    // The index opened is the one written back, and the file is written at close even when unchanged.
    void constructionCorrectsCameraIndex()
    {
        QFETCH(int, cameras);
        QFETCH(int, stored);
        QFETCH(int, opened);
        useCameras(cameras);
        Cache::config->update([stored](ConfigValues &v) { v.cameraIndex = stored; });
        {
            MainWindowQCamera window;
            QCOMPARE(view(window)->cameraIndex(), opened);
            QFile::remove(m_wd->file("system.ini"));
        }
        QSettings written(m_wd->file("system.ini"), QSettings::IniFormat);
        QCOMPARE(written.value("camera/index").toString(), QString::number(opened));
    }

    void placeholdersAndNoticeUntilFirstPicture()
    {
        MainWindowQCamera window;
        window.show();
        const QImage placeholder = QImage(resource("back/Picture_90.png")).convertToFormat(QImage::Format_ARGB32);
        for (int n = 1; n <= 10; ++n) {
            const QPixmap shown = child<QLabel>(window, QStringLiteral("pic2%1").arg(n))->pixmap(Qt::ReturnByValue);
            QCOMPARE(shown.toImage().convertToFormat(QImage::Format_ARGB32), placeholder);
        }
        QLabel *tip = child<QLabel>(window, "lb_video_tip");
        QVERIFY(tip->isVisible());
        QCOMPARE(tip->text(), QStringLiteral("视频加载中，请稍候......"));
        QVERIFY(waitUntilOpen(window));
        QVERIFY(!tip->isVisible());
        QCOMPARE(child<QLabel>(window, "lbcompany_2")->text(), QStringLiteral("vorlant " VORLANT_VERSION));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("warning");
        for (const char *control :
             {"btnShooting", "ImageMergingDialog/btnPhoto", "ImageSavePDFOrTiffDialog/btnPhoto", "btnShootingTime",
              "btnleft_2", "btnupdown_2", "btnright_2", "rb_correction_12", "rb_correction_13", "rb_Shooting_12",
              "btnToggleDevice_2", "btnSetting_2", "pushButton", "btnSavePdfTiff", "check_image_merging_2",
              "btnSecCamCon_2", "btnSecCam1Con_2"})
            QTest::addRow("recording: %s", control) << "recording" << control << kRecording;
        QTest::newRow("recording: second press stops it") << "recording"
                                                          << "btnShootingVideo"
                                                          << "";
        for (const char *control :
             {"btnShooting", "btnShootingVideo", "btnToggleDevice_2", "pushButton", "btnSavePdfTiff",
              "check_image_merging_2", "ImageMergingDialog/btnPhoto", "ImageSavePDFOrTiffDialog/btnPhoto"})
            QTest::addRow("timed: %s", control) << "timed" << control << kTimed;
        for (const char *control :
             {"btnShootingTime", "btnright_2", "rb_correction_12", "rb_Shooting_12", "btnSecCamCon_2", "btnSetting_2"})
            QTest::addRow("timed allows %s", control) << "timed" << control << "";
        QTest::newRow("custom correction is never taken") << "idle"
                                                          << "rb_correction_13"
                                                          << "-";
    }

    // A refused control shows its warning and nothing else changes, the panel's radio buttons included.
    void refusals()
    {
        QFETCH(QString, state);
        QFETCH(QString, control);
        QFETCH(QString, warning);
        Cache::config->update([](ConfigValues &v) { v.imageShootingTime = 1000; });
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        ImageProcessing *thread = view(window)->captureThread();
        if (state == "recording")
            click(window, "btnShootingVideo");
        else if (state == "timed")
            click(window, "btnShootingTime");
        QCOMPARE(view(window)->isRecording(), state == "recording");

        const auto snapshot = [&] {
            QTest::qWait(300); // a photograph asked for has been written by now
            QStringList s;
            s << QString::number(thread->angle()) << QString::number(thread->cameraCorrection())
              << QString::number(thread->cameraShootType()) << QString::number(view(window)->cameraIndex())
              << QString::number(view(window)->isRecording())
              << child<QAbstractButton>(window, "btnShootingTime")->text();
            for (const char *radio : {"rb_correction_10", "rb_correction_12", "rb_correction_13", "rb_Shooting_12"})
                s << QString::number(child<QRadioButton>(window, radio)->isChecked());
            for (QWidget *w : window.findChildren<QDialog *>())
                s << w->objectName() + QString::number(w->isVisible());
            s << filesIn(m_work).filter(QStringLiteral(".jpg"));
            return s;
        };
        const QStringList before = snapshot();
        ModalCloser closer;
        click(window, control);
        const QStringList after = snapshot();
        if (warning.isEmpty()) {
            QVERIFY(closer.seen.isEmpty());
            QVERIFY2(before != after, "an allowed press changed nothing");
        } else {
            QCOMPARE(closer.seen, warning == "-" ? QStringList() : QStringList{"警告|" + warning});
            QCOMPARE(after, before);
        }
    }

    // The button fills the dialog once when it opens; its "保存" reopens the main camera.
    void settingsDialog()
    {
        Cache::config->update([](ConfigValues &v) { v.imageShootingTime = 7; });
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        click(window, "btnSetting_2");
        auto *dialog = window.findChild<QDialog *>("SettingDialog");
        QVERIFY(dialog && dialog->isVisible());
        auto *interval = child<QLineEdit>(*dialog, "imageShootingTimeBox");
        QCOMPARE(interval->text(), QStringLiteral("7"));
        interval->setText("9");
        click(window, "btnSetting_2"); // already open: the edit is kept
        QCOMPARE(interval->text(), QStringLiteral("9"));

        ModalCloser closer;
        click(*dialog, "saveSetting");
        QCOMPARE(Cache::config->imageShootingTime, 9);
        QVERIFY(view(window)->isOpening());
        QVERIFY(child<QLabel>(window, "lb_video_tip")->isVisible());
        QVERIFY(waitUntilOpen(window));
        QVERIFY(!child<QLabel>(window, "lb_video_tip")->isVisible());
    }

    void documentSwitches_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QList<bool>>("watching");
        // clang-format off
        QTest::newRow("page turns") << "checkAutoCapture" << "pdf_auto_capture" << true << QList<bool>{true, false};
        QTest::newRow("text recognition") << "checkOcr" << "pdf_ocr" << true << QList<bool>{};
        QTest::newRow("file cannot be written") << "checkOcr" << "pdf_ocr" << false << QList<bool>{};
        // clang-format on
    }

    // A switch of the PDF dialog is written alone, leaving the edits that wait
    // for the exit's save; "默认设置" turns it off where the user sees it.
    void documentSwitches()
    {
        QFETCH(QString, box);
        QFETCH(QString, key);
        QFETCH(bool, writable);
        QFETCH(QList<bool>, watching);
        QVERIFY(Cache::config->save());
        MainWindowQCamera window;
        window.show();
        click(window, "btnSavePdfTiff");
        auto *pdf = window.findChild<ImageSavePDFOrTiffDialog *>();
        QSignalSpy announced(pdf, &ImageSavePDFOrTiffDialog::watchPageTurnsSignal);
        const QString file = m_wd->file("system.ini");
        if (!writable) {
            QVERIFY(QFile::remove(file));
            QVERIFY(QDir().mkdir(file));
        }
        Cache::config->update([](ConfigValues &v) { v.imageQuality = 10; });

        ModalCloser closer;
        child<QCheckBox>(*pdf, box)->click();
        if (writable) {
            QFile written(file);
            QVERIFY(written.open(QIODevice::ReadOnly));
            const QByteArray bytes = written.readAll();
            QVERIFY2(bytes.contains("\n" + key.toLatin1() + "=true\n") && bytes.contains("\nquality=80\n"),
                     bytes.constData());
            QVERIFY(closer.seen.isEmpty());
        } else {
            QTRY_COMPARE(closer.seen.size(), 1);
            QVERIFY2(closer.seen[0].startsWith(QStringLiteral("警告|开关没有保存")), qPrintable(closer.seen[0]));
            QVERIFY(QDir().rmdir(file));
        }

        click(window, "btnSetting_2");
        click(window, "SettingDialog/btnDefaultSetting");
        QVERIFY(!child<QCheckBox>(*pdf, box)->isChecked());
        QList<bool> seen;
        for (const QList<QVariant> &call : announced)
            seen << call[0].toBool();
        QCOMPARE(seen, watching);
    }

    void documentDialogs_data()
    {
        QTest::addColumn<QStringList>("presses");
        QTest::addColumn<bool>("merge");
        QTest::addColumn<bool>("pdf");
        QTest::newRow("merge") << QStringList{"pushButton"} << true << false;
        QTest::newRow("second press closes") << QStringList{"pushButton", "pushButton"} << false << false;
        QTest::newRow("pdf") << QStringList{"btnSavePdfTiff"} << false << true;
        QTest::newRow("merge replaces pdf") << QStringList{"btnSavePdfTiff", "pushButton"} << true << false;
        QTest::newRow("pdf replaces merge") << QStringList{"pushButton", "btnSavePdfTiff"} << false << true;
        QTest::newRow("box ticked") << QStringList{"check_image_merging_2"} << true << false;
        QTest::newRow("box ticked and cleared")
            << QStringList{"check_image_merging_2", "check_image_merging_2"} << false << false;
    }

    void documentDialogs()
    {
        QFETCH(QStringList, presses);
        QFETCH(bool, merge);
        QFETCH(bool, pdf);
        MainWindowQCamera window;
        window.show();
        for (const QString &press : presses)
            click(window, press);
        QCOMPARE(window.findChild<ImageMergingDialog *>()->isVisible(), merge);
        QCOMPARE(window.findChild<ImageSavePDFOrTiffDialog *>()->isVisible(), pdf);
    }

    void dialogsGetPhotographsOnly_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("mergeOpen");
        QTest::addColumn<bool>("pdfOpen");
        QTest::addColumn<QString>("reportedBefore");
        QTest::newRow("photograph to both open dialogs") << 0 << true << true << "";
        QTest::newRow("photograph, merge dialog closed") << 0 << false << true << "";
        QTest::newRow("document is not passed on") << 1 << true << true << "";
        // A recording ended before the dialog opened is reported (kind 0) after it.
        QTest::newRow("recording is not collected") << 0 << true << true << "clip.avi";
    }

    void dialogsGetPhotographsOnly()
    {
        QFETCH(int, kind);
        QFETCH(bool, mergeOpen);
        QFETCH(bool, pdfOpen);
        QFETCH(QString, reportedBefore);
        MainWindowQCamera window;
        window.show();
        auto *merge = window.findChild<ImageMergingDialog *>();
        auto *pdf = window.findChild<ImageSavePDFOrTiffDialog *>();
        merge->setVisible(mergeOpen);
        pdf->setVisible(pdfOpen);
        if (!reportedBefore.isEmpty())
            window.takePhotoImage({m_media.filePath(reportedBefore)}, 0);
        window.takePhotoImage({m_media.filePath("photo.jpg")}, kind);
        settleThumbnails();
        const bool merged = !child<QLabel>(*merge, "imagebox1")->pixmap(Qt::ReturnByValue).isNull();
        const bool collected = !child<QLabel>(*pdf, "Image_1")->pixmap(Qt::ReturnByValue).isNull();
        QCOMPARE(merged, mergeOpen && kind == 0);
        QCOMPARE(collected, pdfOpen && kind == 0);
        QCOMPARE(child<QLabel>(window, reportedBefore.isEmpty() ? "pic21" : "pic22")->styleSheet(), kRed);
    }

    void timedShooting_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::newRow("one second") << 1;
        QTest::newRow("zero would fire without pause") << 0;
        QTest::newRow("negative") << -4;
        // Taken as milliseconds it wraps round to 704.
        QTest::newRow("longer than a timer holds") << 4294968;
    }

    void timedShooting()
    {
        QFETCH(int, seconds);
        Cache::config->update([seconds](ConfigValues &v) { v.imageShootingTime = seconds; });
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        ModalCloser closer;
        auto *merge = window.findChild<ImageMergingDialog *>();
        merge->show();
        QElapsedTimer clock;
        clock.start();
        click(window, "btnShootingTime");
        auto *button = child<QAbstractButton>(window, "btnShootingTime");
        QLabel *tip = child<QLabel>(window, "lb_video_tip");
        if (seconds <= 0) {
            QCOMPARE(closer.seen.size(), 1);
            QVERIFY2(closer.seen.first().startsWith("警告|") && closer.seen.first().contains("设置"),
                     qPrintable(closer.seen.first()));
            QCOMPARE(button->text(), QStringLiteral("\n\n定时"));
            QVERIFY(!tip->isVisible());
            QVERIFY(merge->isVisible()); // refused before anything changed
            QTest::qWait(300);
            QVERIFY(filesIn(m_work).isEmpty());
            return;
        }
        QVERIFY(!merge->isVisible());
        QCOMPARE(button->text(), QStringLiteral("\n\n拍照中"));
        QVERIFY(tip->isVisible());
        QCOMPARE(tip->text(), QStringLiteral("定时拍照中......"));
        if (seconds > 1)
            QTest::qWait(1500); // a wrapped-round interval would have fired by now
        else
            QTRY_COMPARE_WITH_TIMEOUT(filesIn(m_work).size(), 1, 5000);
        QCOMPARE(filesIn(m_work).size(), seconds > 1 ? 0 : 1);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        click(window, "btnShootingTime");
        QCOMPARE(button->text(), QStringLiteral("\n\n定时"));
        QVERIFY(!tip->isVisible());
        QVERIFY(closer.seen.isEmpty());
    }

    // Every photograph fails (the work folder is a file): timed shooting stops
    // at the first and says why in one box, not one per tick.
    void timedShootingStopsAtFirstFailure()
    {
        Cache::config->update([this](ConfigValues &v) {
            v.userDocumentsLocation = m_media.filePath("photo.jpg");
            v.imageShootingTime = 1;
        });
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        ModalCloser closer;
        click(window, "btnShootingTime");
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 1, 5000);
        QTest::qWait(2500);
        QCOMPARE(closer.seen.size(), 1);
        QVERIFY2(closer.seen.first().startsWith("警告|定时拍摄已停止") && closer.seen.first().contains("不是文件夹"),
                 qPrintable(closer.seen.first()));
        QCOMPARE(child<QAbstractButton>(window, "btnShootingTime")->text(), QStringLiteral("\n\n定时"));
    }

    void strip_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QStringList>("batch");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("playsound");
        QTest::addColumn<QStringList>("filled");
        QTest::addColumn<QString>("red");
        QTest::addColumn<QString>("unred");
        QTest::addColumn<QString>("next");
        QTest::addColumn<int>("sounds");
        const QStringList photo{"photo.jpg"};
        QTest::newRow("first photograph") << 0 << photo << 0 << true << QStringList{"pic21"} << "pic21"
                                          << "pic210"
                                          << "pic22" << 1;
        QTest::newRow("eleventh photograph") << 10 << photo << 0 << true << QStringList{"pic21"} << "pic21"
                                             << "pic210"
                                             << "pic22" << 1;
        QTest::newRow("three cut-outs at slot 9") << 8 << QStringList{"photo.jpg", "photo.jpg", "photo.jpg"} << 0
                                                  << false << QStringList{"pic29", "pic210", "pic21"} << "pic21"
                                                  << "pic28"
                                                  << "pic22" << 0;
        QTest::newRow("empty list") << 3 << QStringList() << 0 << true << QStringList() << ""
                                    << "pic23"
                                    << "pic24" << 0;
        QTest::newRow("finished video") << 0 << QStringList{"clip.avi"} << 0 << true << QStringList{"pic21"} << "pic21"
                                        << "pic210"
                                        << "pic22" << 0;
        QTest::newRow("pdf document") << 1 << QStringList{"book.pdf"} << 1 << true << QStringList{"pic22"} << "pic22"
                                      << "pic21"
                                      << "pic23" << 0;
        QTest::newRow("tiff document") << 0 << QStringList{"book.tiff"} << 1 << true << QStringList{"pic21"} << "pic21"
                                       << "pic210"
                                       << "pic22" << 0;
        QTest::newRow("upper-case PDF is taken for a picture")
            << 0 << QStringList{"BOOK.PDF"} << 1 << true << QStringList{"pic21"} << "pic21"
            << "pic210"
            << "pic22" << 0;
    }

    void strip()
    {
        QFETCH(int, before);
        QFETCH(QStringList, batch);
        QFETCH(int, kind);
        QFETCH(bool, playsound);
        QFETCH(QStringList, filled);
        QFETCH(QString, red);
        QFETCH(QString, unred);
        QFETCH(QString, next);
        QFETCH(int, sounds);
        Cache::config->update([playsound](ConfigValues &v) { v.savePlaysound = playsound; });
        MainWindowQCamera window;
        const QString photo = m_media.filePath("photo.jpg");
        for (int i = 0; i < before; ++i)
            window.takePhotoImage({photo}, 0);
        settleThumbnails();
        QList<QPixmap> was;
        for (int n = 1; n <= 10; ++n)
            was << child<QLabel>(window, QStringLiteral("pic2%1").arg(n))->pixmap(Qt::ReturnByValue);
        auto *sound = window.findChild<ShutterSound *>();
        QVERIFY(sound);
        const int played = sound->playCount();

        QList<QString> paths;
        for (const QString &name : batch)
            paths << m_media.filePath(name);
        window.takePhotoImage(paths, kind);
        settleThumbnails();
        QCOMPARE(sound->playCount() - played, sounds);

        for (int n = 1; n <= 10; ++n) {
            const QString name = QStringLiteral("pic2%1").arg(n);
            QLabel *label = child<QLabel>(window, name);
            const QPixmap shown = label->pixmap(Qt::ReturnByValue);
            const int index = filled.indexOf(name);
            if (index < 0) {
                QVERIFY2(shown.cacheKey() == was[n - 1].cacheKey(), qPrintable(name));
            } else {
                const QString file = batch[index];
                if (file.endsWith("avi") || file.endsWith("pdf")) {
                    const QImage icon(resource(file.endsWith("avi") ? "recored.png" : "pdf.png"));
                    QCOMPARE(shown.size(), icon.size());
                    QVERIFY(!label->hasScaledContents());
                } else if (file.endsWith("PDF")) {
                    QVERIFY(shown.isNull()); // no such picture: blank, but the slot is used
                } else {
                    QCOMPARE(shown.size(), QSize(200, 200));
                    QVERIFY(label->hasScaledContents());
                    const QColor centre = shown.toImage().pixelColor(100, 100);
                    if (file.endsWith("tiff")) {
                        const QColor icon = QImage(resource("tiff.png")).pixelColor(48, 48);
                        QVERIFY2(qAbs(centre.red() - icon.red()) + qAbs(centre.blue() - icon.blue()) < 24,
                                 qPrintable(centre.name() + " " + icon.name()));
                    } else
                        QVERIFY2(centre.red() > 200 && centre.green() < 60, qPrintable(centre.name()));
                }
            }
            if (name == red)
                QCOMPARE(label->styleSheet(), kRed);
            else
                QVERIFY2(label->styleSheet() != kRed, qPrintable(name));
            if (name == unred)
                QCOMPARE(label->styleSheet(), kUnred);
        }
        window.takePhotoImage({photo}, 0);
        QCOMPARE(child<QLabel>(window, next)->styleSheet(), kRed);
    }

    void pressesOpenFiles_data()
    {
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("opened");
        QTest::newRow("filled thumbnail") << "pic21"
                                          << "photo";
        QTest::newRow("thumbnail never filled") << "pic25"
                                                << "";
        QTest::newRow("work directory, made when missing") << "btnOpenUserWorkDir_2"
                                                           << "work";
        QTest::newRow("empty setting: where files go") << "btnOpenUserWorkDir_2"
                                                       << "default";
    }

    void pressesOpenFiles()
    {
        QFETCH(QString, press);
        QFETCH(QString, opened);
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        QDir(m_work).removeRecursively();
        if (opened == "default")
            Cache::config->update([](ConfigValues &v) { v.userDocumentsLocation.clear(); });
        MainWindowQCamera window;
        window.show();
        const QString photo = m_media.filePath("photo.jpg");
        window.takePhotoImage({photo}, 0);
        QWidget *target = child<QWidget>(window, press);
        if (auto *button = qobject_cast<QAbstractButton *>(target))
            button->click();
        else
            QTest::mousePress(target, Qt::RightButton);
        QDesktopServices::unsetUrlHandler("file");
        const QMap<QString, QString> targets{
            {"photo", photo}, {"work", m_work}, {"default", Config::defaultWorkDirectory()}};
        const QString expected = targets.value(opened);
        QCOMPARE(catcher.opened.size(), expected.isEmpty() ? 0 : 1);
        if (!expected.isEmpty())
            QCOMPARE(catcher.opened.first(), QUrl::fromLocalFile(expected));
        if (opened == "work")
            QVERIFY(QFileInfo(m_work).isDir());
    }

    void rotation_data()
    {
        QTest::addColumn<QString>("presses");
        QTest::addColumn<int>("angle");
        QTest::newRow("3 right, 1 left") << "RRRL" << 2;
        QTest::newRow("half turn at 3") << "RRRU" << 1;
        QTest::newRow("left from 0") << "L" << 3;
    }

    void rotation()
    {
        QFETCH(QString, presses);
        QFETCH(int, angle);
        MainWindowQCamera window;
        for (QChar p : presses)
            click(window, p == 'R' ? "btnright_2" : p == 'L' ? "btnleft_2" : "btnupdown_2");
        QCOMPARE(view(window)->captureThread()->angle(), angle);
    }

    void cameraSwitch_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("indices");
        QTest::addColumn<QString>("warning");
        QTest::newRow("0 to 2 and back") << 3 << 0 << QList<int>{2, 0} << "";
        QTest::newRow("1 reopens 1") << 3 << 1 << QList<int>{1} << "";
        QTest::newRow("no camera 2") << 2 << 0 << QList<int>{0} << "警告|未检测到可切换的摄像头";
    }

    void cameraSwitch()
    {
        QFETCH(int, cameras);
        QFETCH(int, start);
        QFETCH(QList<int>, indices);
        QFETCH(QString, warning);
        useCameras(cameras);
        Cache::config->update([start](ConfigValues &v) {
            v.cameraIndex = start;
            v.imageResolution = 4;
            v.imageFourcc = 1;
        });
        MainWindowQCamera window;
        window.show();
        ModalCloser closer;
        for (int expected : indices) {
            QVERIFY(waitUntilOpen(window));
            click(window, "btnToggleDevice_2");
            QCOMPARE(view(window)->cameraIndex(), expected);
            QCOMPARE(Cache::config->cameraIndex, expected);
        }
        QCOMPARE(closer.seen.join(""), warning);
        QCOMPARE(Cache::config->imageResolution, warning.isEmpty() ? 0 : 4);
        QCOMPARE(Cache::config->imageFourcc, warning.isEmpty() ? 0 : 1);
        QVERIFY(waitUntilOpen(window));
        QCOMPARE(view(window)->captureThread()->cameraIndex(), indices.last());
    }

    void workDirectoryChosenAndSavedAtExit_data()
    {
        QTest::addColumn<bool>("choose");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }

    void workDirectoryChosenAndSavedAtExit()
    {
        QFETCH(bool, choose);
        const QString chosen = m_wd->file("elsewhere");
        QDir().mkpath(chosen);
        {
            MainWindowQCamera window;
            window.show();
            QStringList startedAt;
            window.setDirectoryChooser([&](QWidget *, const QString &start) {
                startedAt << start;
                return choose ? chosen : QString();
            });
            click(window, "btnSelectWorkDir_2");
            QCOMPARE(startedAt, QStringList{m_work});
            QCOMPARE(child<QLineEdit>(window, "lbUserWorkDir_2")->text(), choose ? chosen : m_work);
        }
        QSettings written(m_wd->file("system.ini"), QSettings::IniFormat);
        QCOMPARE(written.value("user/documentsLocation").toString(), choose ? chosen : m_work);
    }

    void secondaryCameras_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::addColumn<int>("mainIndex");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("warning");
        QTest::newRow("first dialog, 3 cameras") << 3 << 0 << "btnSecCamCon_2"
                                                 << "";
        QTest::newRow("first dialog shows camera 2: missing") << 2 << 0 << "btnSecCamCon_2"
                                                              << "未检测到子摄像头";
        QTest::newRow("first dialog, main camera 1") << 2 << 1 << "btnSecCamCon_2"
                                                     << "";
        QTest::newRow("second dialog needs 3") << 2 << 1 << "btnSecCam1Con_2"
                                               << "未检测到子摄像头";
        QTest::newRow("one camera") << 1 << 0 << "btnSecCamCon_2"
                                    << "未检测到子摄像头";
    }

    void secondaryCameras()
    {
        QFETCH(int, cameras);
        QFETCH(int, mainIndex);
        QFETCH(QString, button);
        QFETCH(QString, warning);
        useCameras(cameras);
        Cache::config->update([mainIndex](ConfigValues &v) { v.cameraIndex = mainIndex; });
        MainWindowQCamera window;
        window.show();
        window.move(100, 50);
        QVERIFY(waitUntilOpen(window));
        QCOMPARE(captureThreads(window), 1);
        ModalCloser closer;
        click(window, button);
        const QList<CameraViewDialog *> dialogs = secondaryDialogs(window);
        QCOMPARE(dialogs.size(), 2);
        CameraViewDialog *dialog = dialogs[button == "btnSecCamCon_2" ? 0 : 1];
        if (!warning.isEmpty()) {
            QCOMPARE(closer.seen, QStringList{"警告|" + warning});
            QVERIFY(!dialog->isVisible());
            QCOMPARE(captureThreads(window), 1);
            return;
        }
        QVERIFY(dialog->isVisible());
        QCOMPARE(captureThreads(window), 2);
        QCOMPARE(dialog->pos(), window.pos() + QPoint(10, 65));
        QCOMPARE(dialog->view()->cameraIndex(), MainWindowQCamera::secondaryCameraIndex(mainIndex));
        QTRY_VERIFY(!dialog->view()->isOpening());
        QVERIFY(!dialog->getChildImage().isNull());
        click(window, button);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(captureThreads(window), 1);
        // The last picture stays behind for a capture made meanwhile.
        QVERIFY(!dialog->getChildImage().isNull());
        QVERIFY(closer.seen.isEmpty());
    }

    // The main camera keeps the reduced size while any secondary dialog stays open.
    void paintingResolutionRestoredByTheLastDialog()
    {
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        ImageProcessing *thread = view(window)->captureThread();
        QCOMPARE(thread->frameWidth(), 1280);
        click(window, "btnSecCamCon_2");
        QCOMPARE(thread->frameWidth(), 640);
        click(window, "btnSecCam1Con_2");
        const QList<CameraViewDialog *> dialogs = secondaryDialogs(window);
        QVERIFY(dialogs[0]->isVisible() && dialogs[1]->isVisible());
        dialogs[0]->close();
        QCOMPARE(thread->frameWidth(), 640);
        dialogs[1]->close();
        QCOMPARE(thread->frameWidth(), 1280);
    }

    // A work directory that cannot be made: the warning is shown and the window stays idle.
    void recordingThatCannotStart()
    {
        QFile blocker(m_wd->file("not-a-folder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = blocker.fileName(); });
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        ModalCloser closer;
        click(window, "btnShootingVideo");
        QCOMPARE(closer.seen.size(), 1);
        QVERIFY(closer.seen.first().startsWith("警告|"));
        QCOMPARE(child<QAbstractButton>(window, "btnShootingVideo")->text(), QStringLiteral("\n\n录像"));
        QVERIFY(!child<QLabel>(window, "lb_video_tip")->isVisible());
        click(window, "btnright_2"); // not refused as if recording
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(view(window)->captureThread()->angle(), 1);
    }

    // A recording that ends by itself (the disk full) leaves the window idle, not "录像中".
    void recordingThatFailsEndsInTheWindow()
    {
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        ModalCloser closer;
        const FileSizeLimit limit(64 * 1024);
        click(window, "btnShootingVideo");
        QCOMPARE(child<QAbstractButton>(window, "btnShootingVideo")->text(), QStringLiteral("\n\n录像中"));
        QTRY_COMPARE_WITH_TIMEOUT(closer.seen.size(), 1, 10000);
        QVERIFY(closer.seen.first().startsWith("警告|"));
        QCOMPARE(child<QAbstractButton>(window, "btnShootingVideo")->text(), QStringLiteral("\n\n录像"));
        click(window, "btnright_2"); // not refused as if recording
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(view(window)->captureThread()->angle(), 1);
    }

    void closingEndsCaptureWork_data()
    {
        QTest::addColumn<QString>("running");
        QTest::newRow("recording") << "btnShootingVideo";
        QTest::newRow("timed shooting") << "btnShootingTime";
    }

    // A recording is finished and shown in the strip; timed shooting takes nothing more.
    void closingEndsCaptureWork()
    {
        QFETCH(QString, running);
        Cache::config->update([](ConfigValues &v) { v.imageShootingTime = 1; });
        MainWindowQCamera window;
        window.show();
        QVERIFY(waitUntilOpen(window));
        auto *merge = window.findChild<ImageMergingDialog *>();
        merge->show();
        click(window, running);
        QVERIFY(!merge->isVisible()); // starting either closes the document dialogs
        QTest::qWait(300);
        QVERIFY(window.close());
        auto *button = child<QAbstractButton>(window, running);
        if (running == "btnShootingVideo") {
            QVERIFY(!view(window)->isRecording());
            QCOMPARE(button->text(), QStringLiteral("\n\n录像"));
            const QStringList videos = filesIn(m_work).filter(".avi");
            QCOMPARE(videos.size(), 1);
            QCOMPARE(child<QLabel>(window, "pic21")->styleSheet(), kRed);
            QCOMPARE(child<QLabel>(window, "pic21")->pixmap(Qt::ReturnByValue).size(),
                     QImage(resource("recored.png")).size());
        } else {
            QCOMPARE(button->text(), QStringLiteral("\n\n定时"));
            QTest::qWait(1500);
            QVERIFY(filesIn(m_work).isEmpty());
        }
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
