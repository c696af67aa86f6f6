#include "app/cache.h"
#include "output/imagesavepdfortiffdialog.h"
#include "support/fakeworker.h"
#include "support/messageboxes.h"
#include "support/thumbnails.h"
#include "support/workingdir.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace {

// A picture with detail, so that a page built from the wrong pixels shows.
QImage pattern(QSize size, bool grey)
{
    QImage picture(size, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, grey ? uint((x * 7 + y * 3) % 256) : qRgb(x % 256, y % 256, (x ^ y) % 256));
    return picture;
}

// "jpg 640x480", "png 20x30", "pgm 20x30" (a grey PNG), "bad", "cut" (a JPEG cut short).
QString makeSource(const QString &directory, const QString &description, int index)
{
    const QStringList parts = description.split(' ');
    const QString path = QStringLiteral("%1/s%2.%3").arg(directory).arg(index).arg(parts[0] == "pgm" ? "png" : parts[0]);
    QFile file(path);
    if (parts[0] == "bad") {
        file.open(QIODevice::WriteOnly);
        file.write("no picture here");
    } else if (parts[0] == "cut") {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        pattern(QSize(200, 100), false).save(&buffer, "jpg");
        file.open(QIODevice::WriteOnly);
        file.write(bytes.chopped(300));
    } else {
        const QStringList wh = parts[1].split('x');
        pattern(QSize(wh[0].toInt(), wh[1].toInt()), parts[0] == "pgm").save(path, nullptr, 90);
    }
    return path;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// "L" or "P" for each page, or "not A4".
QStringList pageOrientations(const QString &pdf)
{
    QStringList pages;
    const QRegularExpression line(R"(Page\s+\d+ size:\s+([\d.]+) x ([\d.]+) pts)");
    for (auto it = line.globalMatch(run("pdfinfo", {"-f", "1", "-l", "9999", pdf})); it.hasNext();) {
        const auto m = it.next();
        const double w = m.captured(1).toDouble(), h = m.captured(2).toDouble();
        const bool a4 = qAbs(qMin(w, h) - 595.276) < 0.1 && qAbs(qMax(w, h) - 841.89) < 0.1;
        pages << (a4 ? (w > h ? "L" : "P") : "not A4");
    }
    return pages;
}

} // namespace

class TestImageSavePDFOrTiffDialog : public QObject {
    Q_OBJECT

    // The switches are written to system.ini as they change: kept away from the build folder.
    ScopedWorkingDir m_wd;
    QTemporaryDir m_sources;
    QTemporaryDir m_work;

    void useSettings(int saveType, const QString &directory)
    {
        Cache::config->update([&](ConfigValues &v) {
            v.pdfOcr.reset();
            v.saveType = saveType;
            v.savePrefix = QStringLiteral("IMG");
            v.saveNumber = 7;
            v.userDocumentsLocation = directory;
        });
    }
    QStringList written() const { return QDir(m_work.path()).entryList(QDir::Files | QDir::Hidden); }
    static void save(ImageSavePDFOrTiffDialog &dialog, const QString &kind)
    {
        QMetaObject::invokeMethod(&dialog, kind == "pdf" ? "on_btnSavePDF_clicked" : "on_btnSaveTiff_clicked");
    }

private slots:
    void init()
    {
        for (const QString &name : written())
            QFile::remove(m_work.filePath(name));
        useSettings(0, m_work.path());
    }

    // The strip grows past the four form labels and shrinks from the newest end.
    void slotStrip()
    {
        MessageBoxCloser boxes;
        ImageSavePDFOrTiffDialog dialog;
        auto *del = dialog.findChild<QPushButton *>(QStringLiteral("btnDel"));
        auto *strip = dialog.findChild<QHBoxLayout *>(QStringLiteral("horizontalLayout_2"));
        QVERIFY(dialog.findChild<QPushButton *>(QStringLiteral("btnSaveTiff"))->isHidden());
        del->click();
        QCOMPARE(strip->count(), 4);
        for (int i = 0; i < 5; ++i)
            dialog.setImage({makeSource(m_sources.path(), "jpg 40x30", i)});
        settleThumbnails();
        auto *fifth = dialog.findChild<QLabel *>(QStringLiteral("Image_5"));
        QVERIFY(fifth && strip->indexOf(fifth) == 4 && !fifth->pixmap(Qt::ReturnByValue).isNull());
        del->click();
        QVERIFY(!dialog.findChild<QLabel *>(QStringLiteral("Image_5")));
        QVERIFY(!dialog.findChild<QLabel *>(QStringLiteral("Image_4"))->pixmap(Qt::ReturnByValue).isNull());
        dialog.setImage({makeSource(m_sources.path(), "jpg 40x30", 5)});
        QCOMPARE(dialog.findChildren<QLabel *>(QStringLiteral("Image_5")).size(), 1);

        dialog.init();
        QCOMPARE(strip->count(), 4);
        auto *first = dialog.findChild<QLabel *>(QStringLiteral("Image_1"));
        QVERIFY(first->text() == "Image" && first->pixmap(Qt::ReturnByValue).isNull());
        dialog.setImage({makeSource(m_sources.path(), "jpg 40x30", 0)});
        del->click();
        QCOMPARE(first->text(), QStringLiteral("Image"));
        save(dialog, "pdf");
        QCOMPARE(boxes.seen, QStringList{"警告|没有图像"});
        QVERIFY(written().isEmpty());
    }

    // Each photograph becomes one A4 page in its own orientation, with its own pixels.
    void pdfPages_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("orientations");
        QTest::newRow("landscape, portrait, square jpeg")
            << QStringList{"jpg 640x480", "jpg 480x640", "jpg 300x300"} << QStringList{"L", "P", "P"};
        QTest::newRow("lossless png, grey png, bmp")
            << QStringList{"png 320x200", "pgm 200x320", "bmp 90x60"} << QStringList{"L", "P", "L"};
        QTest::newRow("delete then add")
            << QStringList{"jpg 400x300", "jpg 300x400", "jpg 500x300", "del", "png 320x200"}
            << QStringList{"L", "P", "L"};
    }
    void pdfPages()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, orientations);
        ImageSavePDFOrTiffDialog dialog;
        dialog.show();
        QStringList sources;
        for (int i = 0; i < steps.size(); ++i) {
            if (steps[i] == "del") {
                dialog.findChild<QPushButton *>(QStringLiteral("btnDel"))->click();
                sources.removeLast();
                continue;
            }
            sources << makeSource(m_sources.path(), steps[i], i);
            dialog.setImage({sources.last()});
        }
        QSignalSpy saved(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
        dialog.findChild<QPushButton *>(QStringLiteral("btnSavePDF"))->click();
        QTRY_COMPARE(saved.count(), 1);
        const QString pdf = m_work.filePath("IMG_7.pdf");
        QCOMPARE(saved.at(0).at(0).value<QList<QString>>(), QList<QString>{pdf});
        QCOMPARE(pageOrientations(pdf), orientations);

        QTemporaryDir extracted;
        run("pdfimages", {"-j", pdf, extracted.filePath("p")});
        const QStringList images = QDir(extracted.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(images.size(), sources.size());
        for (int i = 0; i < sources.size(); ++i) {
            const QString page = extracted.filePath(images[i]);
            if (sources[i].endsWith(".jpg")) {
                QFile a(sources[i]), b(page);
                QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
                QVERIFY2(a.readAll() == b.readAll(), qPrintable(images[i]));
            } else {
                const QImage source(sources[i]);
                const auto format = source.isGrayscale() ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
                QCOMPARE(QImage(page).convertToFormat(format), source.convertToFormat(format));
            }
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("Image_1"))->text(), QStringLiteral("Image"));
    }

    void documentNames_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("saveType");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("numberAfter");
        const QString timed = "\\d{4}_\\d\\d_\\d\\d \\d\\d_\\d\\d_\\d\\d\\.\\d{3}\\.";
        QTest::newRow("pdf numbered") << "pdf" << 0 << false << "IMG_7\\.pdf" << 8;
        QTest::newRow("pdf numbered, name taken") << "pdf" << 0 << true << "IMG_8\\.pdf" << 9;
        QTest::newRow("pdf timed") << "pdf" << 1 << false << timed + "pdf" << 7;
        QTest::newRow("tiff numbered") << "tiff" << 0 << false << "IMG_7\\.tiff" << 8;
        QTest::newRow("tiff timed") << "tiff" << 1 << false << timed + "tiff" << 7;
    }
    void documentNames()
    {
        QFETCH(QString, kind);
        QFETCH(int, saveType);
        QFETCH(bool, taken);
        QFETCH(QString, pattern);
        QFETCH(int, numberAfter);
        useSettings(saveType, m_work.path());
        if (taken)
            QFile(m_work.filePath("IMG_7." + kind)).open(QIODevice::WriteOnly);
        ImageSavePDFOrTiffDialog dialog;
        const QString source = makeSource(m_sources.path(), "jpg 40x30", 0);
        dialog.setImage({source});
        QSignalSpy saved(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
        save(dialog, kind);
        QTRY_COMPARE(saved.count(), 1);
        const QList<QString> paths = saved.at(0).at(0).value<QList<QString>>();
        QCOMPARE(paths.size(), 1);
        QCOMPARE(saved.at(0).at(1).toInt(), 1);
        const QString name = QFileInfo(paths[0]).fileName();
        QVERIFY2(QRegularExpression("^" + pattern + "$").match(name).hasMatch(), qPrintable(name));
        QCOMPARE(Cache::config->snapshot().saveNumber, numberAfter);
        QVERIFY(QFile::exists(source));
        if (taken)
            QCOMPARE(QFileInfo(m_work.filePath("IMG_7." + kind)).size(), 0);
    }

    // Undecodable sources are left out and named; with nothing left, or an
    // unwritable folder, nothing is written and the collection stays for another try.
    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<bool>("folderIsFile");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QList<QSize>>("pages");
        // The name is chosen at the click, once the folder is there: a number is used up by a document that then fails.
        QTest::addColumn<int>("numberAfter");
        const QList<QSize> none;
        QTest::newRow("pdf empty") << "pdf" << QStringList{} << false << "没有图像" << none << 7;
        QTest::newRow("tiff empty") << "tiff" << QStringList{} << false << "没有图像" << none << 7;
        QTest::newRow("pdf nothing decodable")
            << "pdf" << QStringList{"bad", "cut"} << false << "s1.cut" << none << 8;
        QTest::newRow("tiff nothing decodable") << "tiff" << QStringList{"bad"} << false << "s0.bad" << none << 8;
        QTest::newRow("pdf unwritable folder")
            << "pdf" << QStringList{"jpg 40x30"} << true << "工作目录" << none << 7;
        QTest::newRow("tiff unwritable folder")
            << "tiff" << QStringList{"jpg 40x30"} << true << "工作目录" << none << 7;
        QTest::newRow("pdf leaves out bad and cut") << "pdf" << QStringList{"bad", "jpg 40x30", "cut"} << false
                                                    << "s0.bad\ns2.cut" << QList<QSize>{{40, 30}} << 8;
        QTest::newRow("tiff leaves out bad and cut") << "tiff" << QStringList{"jpg 64x48", "cut", "png 20x30", "bad"}
                                                     << false << "s1.cut\ns3.bad" << QList<QSize>{{64, 48}, {20, 30}}
                                                     << 8;
    }
    void failures()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, steps);
        QFETCH(bool, folderIsFile);
        QFETCH(QString, warning);
        QFETCH(QList<QSize>, pages);
        QFETCH(int, numberAfter);
        const QString blocked = m_work.filePath("blocked");
        QFile(blocked).open(QIODevice::WriteOnly);
        useSettings(0, folderIsFile ? blocked : m_work.path());
        MessageBoxCloser boxes;
        ImageSavePDFOrTiffDialog dialog;
        dialog.show();
        for (int i = 0; i < steps.size(); ++i)
            dialog.setImage({makeSource(m_sources.path(), steps[i], i)});
        QSignalSpy saved(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
        save(dialog, kind);
        QTRY_COMPARE(boxes.seen.size(), 1);
        QVERIFY(boxes.seen[0].startsWith("警告|"));
        for (const QString &part : warning.split('\n'))
            QVERIFY2(boxes.seen[0].contains(part), qPrintable(boxes.seen[0]));
        const QString document = m_work.filePath("IMG_7." + kind);
        if (!pages.isEmpty()) {
            QTRY_COMPARE(saved.count(), 1);
            if (kind == "pdf") {
                QCOMPARE(pageOrientations(document).size(), pages.size());
            } else {
                std::vector<cv::Mat> read;
                QVERIFY(cv::imreadmulti(QFile::encodeName(document).toStdString(), read));
                QCOMPARE(int(read.size()), pages.size());
                for (int i = 0; i < pages.size(); ++i)
                    QCOMPARE(QSize(read[size_t(i)].cols, read[size_t(i)].rows), pages[i]);
            }
            return;
        }
        QTest::qWait(50);
        QCOMPARE(saved.count(), 0);
        QCOMPARE(written(), QStringList{"blocked"});
        QCOMPARE(Cache::config->snapshot().saveNumber, numberAfter);
        QVERIFY(dialog.isVisible());
        if (folderIsFile) {
            useSettings(0, m_work.path());
            save(dialog, kind);
            QTRY_COMPARE(saved.count(), 1);
            QVERIFY(QFileInfo(document).size() > 0);
        }
    }

    // While a document is read or written the pages and the name are those of
    // the click: a photograph taken meanwhile numbers after it and stays
    // collected, and reopening the dialog does not empty it.
    void busyDialogKeepsLaterPhotographs_data()
    {
        QTest::addColumn<bool>("ocr");
        QTest::newRow("writing") << false;
        QTest::newRow("recognising, then writing") << true;
    }
    void busyDialogKeepsLaterPhotographs()
    {
        QFETCH(bool, ocr);
        // A worker that reads each page as its own file name, slowly enough for photographs to arrive.
        const ScopedOcrWorker worker(writeWorkerScript(
            m_sources.filePath("worker.sh"), "sleep 0.3; printf '10 10 200 20\\t%s\\n' \"$(basename \"$1\" .jpg)\""));
        MessageBoxCloser boxes;
        ImageSavePDFOrTiffDialog dialog;
        dialog.show();
        dialog.findChild<QCheckBox *>(QStringLiteral("checkOcr"))->setChecked(ocr);
        QStringList sources;
        for (int i = 0; i < 5; ++i)
            sources << makeSource(m_sources.path(), "jpg 400x300", i);
        dialog.setImage(sources.mid(0, 3));
        QSignalSpy saved(&dialog, &ImageSavePDFOrTiffDialog::saveImageMergingSignals);
        dialog.findChild<QPushButton *>(QStringLiteral("btnSavePDF"))->click();

        Cache::config->takeNextNumber(); // a photograph taken meanwhile
        dialog.setImage({sources[3]});
        dialog.close(); // the main window's toggle: closed, then emptied and shown again
        QVERIFY(!dialog.init());
        dialog.show();
        dialog.setImage({sources[4]});
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 30000);

        const QString pdf = saved[0][0].value<QList<QString>>().value(0);
        QCOMPARE(pdf, m_work.filePath("IMG_7.pdf"));
        QCOMPARE(pageOrientations(pdf).size(), 3);
        for (int page = 1; ocr && page <= 3; ++page)
            QCOMPARE(run("pdftotext", {"-f", QString::number(page), "-l", QString::number(page), pdf, "-"}).trimmed(),
                     QStringLiteral("s%1").arg(page - 1));
        QVERIFY(dialog.isVisible());
        QCOMPARE(boxes.seen, QStringList());
        QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("Image_2"))->text().isEmpty());
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("Image_3"))->text(), QStringLiteral("Image"));

        // The two kept photographs make the next document.
        dialog.findChild<QCheckBox *>(QStringLiteral("checkOcr"))->setChecked(false);
        dialog.findChild<QPushButton *>(QStringLiteral("btnSavePDF"))->click();
        QTRY_COMPARE(saved.count(), 2);
        QCOMPARE(saved[1][0].value<QList<QString>>().value(0), m_work.filePath("IMG_9.pdf"));
        QCOMPARE(pageOrientations(m_work.filePath("IMG_9.pdf")).size(), 2);
        QTRY_VERIFY(!dialog.isVisible());
    }

    // Cancelling recognition, or quitting during it, writes nothing and does
    // not wait for the workers.
    void recognitionStopsWithoutWriting_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("cancel button") << false;
        QTest::newRow("quitting") << true;
    }
    void recognitionStopsWithoutWriting()
    {
        QFETCH(bool, quit);
        const ScopedOcrWorker worker(writeWorkerScript(m_sources.filePath("slow.sh"), "exec sleep 60"));
        auto dialog = std::make_unique<ImageSavePDFOrTiffDialog>();
        dialog->show();
        dialog->findChild<QCheckBox *>(QStringLiteral("checkOcr"))->setChecked(true);
        for (int i = 0; i < 3; ++i)
            dialog->setImage({makeSource(m_sources.path(), "jpg 40x30", i)});
        dialog->findChild<QPushButton *>(QStringLiteral("btnSavePDF"))->click();
        QProgressDialog *progress = nullptr;
        QTRY_VERIFY((progress = dialog->findChild<QProgressDialog *>()) && progress->isVisible());

        QElapsedTimer clock;
        clock.start();
        if (quit) {
            dialog.reset();
        } else {
            progress->findChild<QPushButton *>()->click();
            QVERIFY(!dialog->isBusy());
            QVERIFY(dialog->findChild<QLabel *>(QStringLiteral("Image_3"))->text().isEmpty());
        }
        QVERIFY(clock.elapsed() < 2000);
        QTest::qWait(300);
        QCOMPARE(written(), QStringList());
    }
};

QTEST_MAIN(TestImageSavePDFOrTiffDialog)
#include "test_imagesavepdfortiffdialog.moc"
