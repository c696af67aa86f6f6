#include "app/cache.h"
#include "output/imagemergingdialog.h"
#include "scenes/hugepng.h"
#include "support/messageboxes.h"
#include "support/thumbnails.h"

#include <QBoxLayout>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString photo(const QString &directory, const QString &name, QSize size, QColor colour)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(colour);
    const QString path = directory + QLatin1Char('/') + name;
    picture.save(path, nullptr, 95);
    return path;
}

bool near(QRgb pixel, QColor expected)
{
    return qAbs(qRed(pixel) - expected.red()) < 12 && qAbs(qGreen(pixel) - expected.green()) < 12
           && qAbs(qBlue(pixel) - expected.blue()) < 12;
}

} // namespace

class TestImageMergingDialog : public QObject {
    Q_OBJECT

    QTemporaryDir m_sources;
    QTemporaryDir m_work;

    void useSettings(int saveType, int number, const QString &codec, const QString &directory)
    {
        Cache::config->update([&](ConfigValues &v) {
            v.saveType = saveType;
            v.savePrefix = QStringLiteral("IMG");
            v.saveNumber = number;
            v.imageCodec = codec;
            v.imageQuality = 95;
            v.userDocumentsLocation = directory;
        });
    }
    QStringList written() const { return QDir(m_work.path()).entryList(QDir::Files | QDir::Hidden); }

private slots:
    void init()
    {
        for (const QString &name : written())
            QFile::remove(m_work.filePath(name));
        useSettings(0, 12, QStringLiteral("jpg"), m_work.path());
    }

    // The arrangement chosen by the buttons decides the window and the merged layout.
    void mergeLayout_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<QSize>("dialogSize");
        QTest::addColumn<QSize>("merged");
        QTest::addColumn<QPoint>("secondAt");
        QTest::addColumn<QPoint>("uncovered");
        QTest::newRow("side by side jpg") << "btnLeftRight" << "jpg" << QSize(644, 276) << QSize(1600, 900)
                                          << QPoint(1000, 0) << QPoint(500, 880);
        QTest::newRow("above each other jpg") << "btnUpDown" << "jpg" << QSize(376, 544) << QSize(1000, 1700)
                                              << QPoint(0, 800) << QPoint(980, 1000);
        QTest::newRow("side by side png") << "btnLeftRight" << "png" << QSize(644, 276) << QSize(1600, 900)
                                          << QPoint(1000, 0) << QPoint(500, 880);
    }
    void mergeLayout()
    {
        QFETCH(QString, button);
        QFETCH(QString, codec);
        QFETCH(QSize, dialogSize);
        QFETCH(QSize, merged);
        QFETCH(QPoint, secondAt);
        QFETCH(QPoint, uncovered);
        useSettings(0, 12, codec, m_work.path());
        ImageMergingDialog dialog;
        dialog.move(40, 30);
        dialog.show();
        const QPoint topLeft = dialog.pos();
        dialog.findChild<QPushButton *>(QStringLiteral("btnUpDown"))->click();
        dialog.findChild<QPushButton *>(button)->click();
        QCOMPARE(dialog.size(), dialogSize);
        QCOMPARE(dialog.minimumSize(), dialogSize);
        QCOMPARE(dialog.maximumSize(), dialogSize);
        QCOMPARE(dialog.pos(), topLeft);

        const QString a = photo(m_sources.path(), "a.jpg", QSize(1000, 800), Qt::red);
        const QString b = photo(m_sources.path(), "b.jpg", QSize(600, 900), Qt::blue);
        dialog.setImage({a, b});
        QSignalSpy saved(&dialog, &ImageMergingDialog::saveImageMergingSignals);
        dialog.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();

        const QString path = m_work.filePath("IMG_12." + codec);
        QCOMPARE(saved.count(), 1);
        QCOMPARE(saved.at(0).at(0).value<QList<QString>>(), QList<QString>{path});
        QCOMPARE(saved.at(0).at(1).toInt(), 1);
        QCOMPARE(Cache::config->snapshot().saveNumber, 13);
        QVERIFY(!dialog.isVisible());
        QVERIFY(QFile::exists(a) && QFile::exists(b));
        const QImage result(path);
        QCOMPARE(result.size(), merged);
        // JPEG blurs colour across a block edge; PNG must be exact at the edge.
        const int margin = codec == "png" ? 0 : 12;
        const QPoint along = secondAt.x() ? QPoint(1, 0) : QPoint(0, 1);
        QVERIFY(near(result.pixel(secondAt - along * (1 + margin) + QPoint(2, 2) - along * 2), Qt::red));
        QVERIFY(near(result.pixel(secondAt + along * margin + QPoint(2, 2) - along * 2), Qt::blue));
        QVERIFY(near(result.pixel(uncovered), Qt::white));
        if (codec == "png")
            QCOMPARE(result.pixel(uncovered), 0x00FFFFFFu);
    }

    // Photographs alternate between the slots; reopening forgets them.
    void alternationAndReopen()
    {
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
        QStringList paths;
        for (int i = 0; i < 4; ++i)
            paths << photo(m_sources.path(), QStringLiteral("p%1.png").arg(i), QSize(40, 30), colours[i]);
        MessageBoxCloser boxes;
        ImageMergingDialog dialog;
        for (const QString &path : paths)
            dialog.setImage({path});
        auto *box1 = dialog.findChild<QLabel *>(QStringLiteral("imagebox1"));
        settleThumbnails();
        QVERIFY(!box1->pixmap(Qt::ReturnByValue).isNull());
        dialog.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
        const QImage merged(m_work.filePath("IMG_12.jpg"));
        QVERIFY(near(merged.pixel(5, 5), Qt::blue));
        QVERIFY(near(merged.pixel(45, 5), Qt::yellow));

        dialog.init();
        QCOMPARE(box1->text(), QStringLiteral("图像1"));
        dialog.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
        dialog.setImage({paths.at(0)});
        dialog.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
        QCOMPARE(boxes.seen, (QStringList{"警告|没有图像1", "警告|没有图像2"}));
        QCOMPARE(written(), QStringList{"IMG_12.jpg"});
    }

    // A failed save says why, writes nothing, and keeps both photographs for another try.
    void failures_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("folderIsFile");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QSize>("merged");
        QTest::newRow("unwritable folder") << "a.png" << "a.png" << true << "不是文件夹，合并图像未保存" << QSize();
        QTest::newRow("both undecodable") << "bad1.jpg" << "bad2.jpg" << false << "bad2.jpg" << QSize();
        QTest::newRow("second undecodable") << "a.png" << "bad2.jpg" << false << "bad2.jpg" << QSize(30, 20);
        QTest::newRow("first cut short") << "cut.jpg" << "a.png" << false << "cut.jpg" << QSize(30, 20);
        QTest::newRow("second over the pixel limit") << "a.png" << "huge.png" << false << "图像太大" << QSize(30, 20);
    }
    void failures()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, folderIsFile);
        QFETCH(QString, warning);
        QFETCH(QSize, merged);
        photo(m_sources.path(), "a.png", QSize(30, 20), Qt::red);
        QFile(m_sources.filePath("bad1.jpg")).open(QIODevice::WriteOnly);
        QFile bad(m_sources.filePath("bad2.jpg"));
        bad.open(QIODevice::WriteOnly);
        bad.write("not a picture");
        bad.close();
        QFile whole(photo(m_sources.path(), "whole.jpg", QSize(300, 200), Qt::green));
        whole.open(QIODevice::ReadOnly);
        QFile cut(m_sources.filePath("cut.jpg"));
        cut.open(QIODevice::WriteOnly);
        cut.write(whole.readAll().chopped(200));
        cut.close();
        if (second == "huge.png")
            QVERIFY(writeHugePng(m_sources.filePath(second), QSize(30000, 30000)));
        const QString blocked = m_work.filePath("blocked");
        QFile(blocked).open(QIODevice::WriteOnly);
        useSettings(0, 12, QStringLiteral("jpg"), folderIsFile ? blocked : m_work.path());

        MessageBoxCloser boxes;
        ImageMergingDialog dialog;
        dialog.show();
        dialog.setImage({m_sources.filePath(first), m_sources.filePath(second)});
        QSignalSpy saved(&dialog, &ImageMergingDialog::saveImageMergingSignals);
        dialog.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY2(boxes.seen.at(0).startsWith("警告|") && boxes.seen.at(0).contains(warning),
                 qPrintable(boxes.seen.at(0)));
        QCOMPARE(saved.count(), merged.isValid() ? 1 : 0);
        QCOMPARE(dialog.isVisible(), !merged.isValid());
        if (merged.isValid()) {
            QCOMPARE(QImage(m_work.filePath("IMG_12.jpg")).size(), merged);
            return;
        }
        QCOMPARE(written(), QStringList{"blocked"});
        QCOMPARE(Cache::config->snapshot().saveNumber, 12);
        if (folderIsFile) {
            useSettings(0, 12, QStringLiteral("jpg"), m_work.path());
            dialog.findChild<QPushButton *>(QStringLiteral("btnSave"))->click();
            QCOMPARE(saved.count(), 1);
            QCOMPARE(QImage(m_work.filePath("IMG_12.jpg")).size(), QSize(60, 20));
        }
    }
};

QTEST_MAIN(TestImageMergingDialog)
#include "test_imagemergingdialog.moc"
