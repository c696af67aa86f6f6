#include "app/cache.h"
#include "output/imagesavepdfortiffdialog.h"
#include "support/messageboxes.h"
#include "support/thumbnails.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
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

    QTemporaryDir m_sources;
    QTemporaryDir m_work;

    void useSettings(int saveType, const QString &directory)
    {
        Cache::config->update([&](ConfigValues &v) {
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
        QTest::newRow("pdf nothing decodable") << "pdf" << QStringList{"bad", "cut"} << false << "s1.cut" << none << 8;
        QTest::newRow("tiff nothing decodable") << "tiff" << QStringList{"bad"} << false << "s0.bad" << none << 8;
        QTest::newRow("pdf unwritable folder") << "pdf" << QStringList{"jpg 40x30"} << true << "工作目录" << none << 7;
        QTest::newRow("tiff unwritable folder") << "tiff" << QStringList{"jpg 40x30"} << true << "工作目录" << none << 7;
        QTest::newRow("pdf leaves out bad and cut")
            << "pdf" << QStringList{"bad", "jpg 40x30", "cut"} << false << "s0.bad\ns2.cut" << QList<QSize>{{40, 30}} << 8;
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
};

QTEST_MAIN(TestImageSavePDFOrTiffDialog)
#include "test_imagesavepdfortiffdialog.moc"
