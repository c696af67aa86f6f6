#include "app/runninginstance.h"
#include "recording/leftovers.h"
#include "recording/mjpegaviwriter.h"
#include "support/avifile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

namespace {

constexpr int kFrames = 5;
const cv::Size kFrameSize(160, 120);

// Frame n is a flat grey of 40 * (n + 1), so the last one played tells which it was.
std::vector<uchar> greyJpeg(int n)
{
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", cv::Mat(kFrameSize, CV_8UC3, cv::Scalar::all(40 * (n + 1))), jpeg);
    return jpeg;
}

// A recording as a crash leaves it: frames on the disk, no closing index; "torn"
// also cuts the last frame short, as a kill in the middle of its write does.
bool writeCrashedPart(const QString &path, bool torn)
{
    {
        MjpegAviWriter writer;
        if (!writer.open(path, kFrameSize, 10.0))
            return false;
        for (int n = 0; n < kFrames; ++n) {
            if (!writer.writeFrame(greyJpeg(n)))
                return false;
        }
    }
    QFile file(path);
    return !torn || file.resize(file.size() - 100);
}

QStringList allFiles(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestLeftovers : public QObject {
    Q_OBJECT

private slots:
    void recovery_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("content"); // "part", "torn", "garbage" or "bytes"
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("othersRunning");
        QTest::addColumn<QString>("taken"); // a file already there
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("framesKept"); // in the recovered file; -1 none, 0 named as unrepairable

        const QString temp = QStringLiteral(".vorlant-0123456789abcdef.part");
        const QString stem = QStringLiteral("2026_03_04_10_11_12.345");
        const QString part = stem + ".part.avi";
        const int old = int(kLeftoverAgeSeconds) + 60;
        QTest::newRow("photograph temporary") << temp << "bytes" << 5 << false << "" << QStringList{} << -1;
        QTest::newRow("document temporary") << temp + ".tiff"
                                            << "bytes" << 5 << false << "" << QStringList{} << -1;
        QTest::newRow("temporary another copy may be writing")
            << temp << "bytes" << 5 << true << "" << QStringList{temp} << -1;
        QTest::newRow("old temporary while another copy runs")
            << temp << "bytes" << old << true << "" << QStringList{} << -1;
        QTest::newRow("someone else's file") << "notes.part"
                                             << "bytes" << old << false << "" << QStringList{"notes.part"} << -1;

        QTest::newRow("crashed recording")
            << part << "part" << 5 << false << "" << QStringList{stem + ".avi"} << kFrames;
        QTest::newRow("third file of a recording")
            << stem + "_3.part.avi"
            << "part" << 5 << false << "" << QStringList{stem + "_3.avi"} << kFrames;
        QTest::newRow("final name taken")
            << part << "part" << 5 << false << stem + ".avi" << QStringList{stem + ".avi", stem + "_2.avi"} << kFrames;
        QTest::newRow("last frame cut short")
            << part << "torn" << 5 << false << "" << QStringList{stem + ".avi"} << kFrames - 1;
        QTest::newRow("cannot be repaired") << part << "garbage" << 5 << false << "" << QStringList{part} << 0;
        QTest::newRow("recording another copy may be writing")
            << part << "part" << 5 << true << "" << QStringList{part} << -1;
        QTest::newRow("recording no longer written, another copy running")
            << part << "part" << old << true << "" << QStringList{stem + ".avi"} << kFrames;
        QTest::newRow("someone else's recording")
            << "holiday.part.avi"
            << "part" << old << false << "" << QStringList{"holiday.part.avi"} << -1;
    }

    // Only the program's own leftovers that nobody is writing are touched; a
    // recording is rebuilt whole under the recorder's name, never over a file.
    void recovery()
    {
        QFETCH(QString, name);
        QFETCH(QString, content);
        QFETCH(int, ageSeconds);
        QFETCH(bool, othersRunning);
        QFETCH(QString, taken);
        QFETCH(QStringList, after);
        QFETCH(int, framesKept);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        if (!taken.isEmpty()) {
            QFile file(dir.filePath(taken));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("mine") == 4);
        }
        if (content == "part" || content == "torn") {
            QVERIFY(writeCrashedPart(path, content == "torn"));
            QVERIFY(!readAviLayout(path).closed);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content == "garbage" ? QByteArray("RIFF\0\0\0\0AVI LIST", 16) + QByteArray(4000, '\x5a')
                                            : QByteArray(4000, '\x01'));
        }
        const QDateTime now = QDateTime::currentDateTime();
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(now.addSecs(-ageSeconds), QFileDevice::FileModificationTime));
        }

        LeftoverRecovery recovery(findLeftovers(dir.path(), now, othersRunning));
        bool finished = false;
        connect(&recovery, &LeftoverRecovery::finishedSignal, this, [&finished] { finished = true; });
        recovery.start();
        QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
        const RecoveryReport report = recovery.report();
        QCOMPARE(allFiles(dir.path()), after);
        if (!taken.isEmpty()) {
            QFile file(dir.filePath(taken));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray("mine"));
        }
        const QString message = recoveryMessage(report);
        if (framesKept < 0) {
            QVERIFY(message.isEmpty());
            return;
        }
        if (framesKept == 0) {
            QCOMPARE(report.unrepaired.size(), 1);
            QVERIFY2(message.contains(path), qPrintable(message));
            return;
        }
        const QString repaired = dir.filePath(after.last());
        QCOMPARE(report.recovered, QStringList{repaired});
        QVERIFY2(message.contains(repaired), qPrintable(message));
        const AviLayout layout = readAviLayout(repaired);
        QVERIFY(layout.closed);
        QCOMPARE(layout.indexEntries, framesKept);
        QCOMPARE(layout.playedFrames, framesKept);
        QVERIFY2(qAbs(layout.lastBrightness - 40 * framesKept) < 4, qPrintable(QString::number(layout.lastBrightness)));
    }

    // A second copy started while the first runs must know it, or it would
    // take the first one's recording in progress for a crash's leftover.
    void runningCopiesSeeEachOther()
    {
        QTemporaryDir dir;
        const QString lock = dir.filePath("vorlant.lock");
        auto first = std::make_unique<RunningInstance>(lock);
        QVERIFY(!first->othersRunning());
        QVERIFY(RunningInstance(lock).othersRunning());
        first.reset();
        QVERIFY(!RunningInstance(lock).othersRunning());
    }
};

QTEST_GUILESS_MAIN(TestLeftovers)
#include "test_leftovers.moc"
