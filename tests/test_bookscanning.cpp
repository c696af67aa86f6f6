#include "app/cache.h"
#include "app/discovery.h"
#include "scenes/deskscene.h"
#include "mainwindow/mainwindowqcamera.h"
#include "output/imagesavepdfortiffdialog.h"
#include "support/messageboxes.h"
#include "support/workingdir.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/videoio.hpp>

#include <memory>

namespace {

constexpr double kFps = 30.0;
const cv::Size kFrameSize(640, 360);
// Long enough for the camera stand-in to play its 3.3 s once, and to shoot.
constexpr int kQuietMs = 5000;
constexpr int kShotWithinMs = 15000;

} // namespace

// The main window shoots through its own shoot path when a page has been
// turned, only while the PDF dialog is shown with its switch on.
class TestBookScanning : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QString m_video;

private slots:
    void initTestCase()
    {
        // A page, a hand turning it, the next page; the stand-in plays it in a
        // loop. The book lies on an oak desk, as skin-coloured as a hand.
        m_video = m_media.filePath("book.avi");
        cv::VideoWriter writer(m_video.toStdString(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps, kFrameSize);
        QVERIFY(writer.isOpened());
        unsigned seed = 1;
        BookView look;
        look.desk = DeskSurface::Oak;
        look.cover = true;
        look.skin = skinTones().back().bgr;
        BookView view = look;
        for (int i = 0; i < 30; ++i)
            writer.write(drawBookView(kFrameSize, view, seed++));
        for (int i = 1; i < 10; ++i) {
            view.turned = i / 10.0;
            view.hand = {static_cast<float>(kFrameSize.width * (0.7 - 0.4 * view.turned)), kFrameSize.height * 0.6f};
            writer.write(drawBookView(kFrameSize, view, seed++));
        }
        view = look;
        view.page = 1;
        for (int i = 0; i < 60; ++i)
            writer.write(drawBookView(kFrameSize, view, seed++));
        writer.release();
        Cache::config->appDirPath = QFileInfo(qEnvironmentVariable("VORLANT_BINARY")).absolutePath();
        Cache::config->outputSizes = standardOutputSizes();
    }

    void shotOnlyWhileShownAndOn_data()
    {
        QTest::addColumn<bool>("switchOn");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("shots");
        QTest::newRow("switch on, dialog shown") << true << true << true;
        QTest::newRow("switch off") << false << true << false;
        QTest::newRow("dialog not shown") << true << false << false;
    }

    void shotOnlyWhileShownAndOn()
    {
        QFETCH(bool, switchOn);
        QFETCH(bool, shown);
        QFETCH(bool, shots);

        ScopedWorkingDir wd;
        const QString work = wd.file("work");
        QDir().mkpath(work);
        Cache::config->init();
        Cache::config->update([&](ConfigValues &v) {
            v.userDocumentsLocation = work;
            v.imageOutResolution = 11; // 640 x 480 keeps photographs quick
            v.savePlaysound = false;
        });
        *Cache::cameras = discoverCameraFiles(m_video);
        QCOMPARE(Cache::cameras->size(), 1);

        MessageBoxCloser boxes;
        MainWindowQCamera window;
        window.show();
        auto *dialog = window.findChild<ImageSavePDFOrTiffDialog *>();
        QVERIFY(dialog);
        dialog->findChild<QCheckBox *>("checkAutoCapture")->setChecked(switchOn);
        if (shown)
            window.findChild<QPushButton *>("btnSavePdfTiff")->click();
        QCOMPARE(dialog->isVisible(), shown);

        const auto photographs = [&] { return QDir(work).entryList(QDir::Files).size(); };
        if (shots) {
            QTRY_VERIFY_WITH_TIMEOUT(photographs() > 0, kShotWithinMs);
            // Collected by the dialog as a photograph taken with its "拍摄" would be.
            QTRY_VERIFY(!dialog->findChild<QLabel *>("Image_1")->pixmap(Qt::ReturnByValue).isNull());
        } else {
            QTest::qWait(kQuietMs);
            QCOMPARE(photographs(), 0);
        }
        QVERIFY(boxes.seen.isEmpty());
    }
};

QTEST_MAIN(TestBookScanning)
#include "test_bookscanning.moc"
