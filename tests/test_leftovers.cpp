#include "app/runninginstance.h"
#include "recording/leftovers.h"
#include "recording/mjpegaviwriter.h"
#include "support/avifile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <optional>

namespace {

constexpr int kFrames = 5;
const QString kStem = QStringLiteral("2026_03_04_10_11_12.345");

// A recording as a crash leaves it: frames on the disk, no closing index.
// "torn" cuts the last frame short, as a kill in the middle of its write does;
// "repeats" ends in three empty chunks, the last picture repeated.
bool writeCrashedPart(const QString &path, const QString &content)
{
    bool written = false;
    {
        MjpegAviWriter writer;
        written = writer.open(path, cv::Size(160, 120), 10.0);
        for (int n = 0; written && n < kFrames; ++n) {
            std::vector<uchar> jpeg;
            cv::imencode(".jpg", cv::Mat(120, 160, CV_8UC3, cv::Scalar::all(40 * n)), jpeg);
            written = writer.writeFrame(jpeg);
        }
    }
    QFile file(path);
    if (content == "repeats")
        return written && file.open(QIODevice::Append) && file.write(QByteArray("00dc\0\0\0\0", 8).repeated(3)) == 24;
    return written && (content != "torn" || file.resize(file.size() - 100));
}

} // namespace

class TestLeftovers : public QObject {
    Q_OBJECT

private slots:
    void recovery_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("content"); // "part", "torn", "repeats", "garbage" or "bytes"
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("othersRunning");
        QTest::addColumn<QString>("taken"); // a file already there
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("framesKept"); // in the recovered file; -1 none, 0 named as unrepairable

        const QString temp = QStringLiteral(".vorlant-0123456789abcdef.part");
        const QString part = kStem + ".part.avi";
        const QString avi = kStem + ".avi";
        const int old = int(kLeftoverAgeSeconds) + 60;
        auto row = [](const char *name, const QString &file, const char *content, int age, bool others,
                      const QString &taken, const QStringList &after, int frames) {
            QTest::newRow(name) << file << QString(content) << age << others << taken << after << frames;
        };
        row("photograph temporary", temp, "bytes", 5, false, "", {}, -1);
        row("document temporary", temp + ".tiff", "bytes", 5, false, "", {}, -1);
        row("temporary another copy may be writing", temp, "bytes", 5, true, "", {temp}, -1);
        row("old temporary while another copy runs", temp, "bytes", old, true, "", {}, -1);
        row("someone else's file", "notes.part", "bytes", old, false, "", {"notes.part"}, -1);
        row("crashed recording", part, "part", 5, false, "", {avi}, kFrames);
        row("third file of a recording", kStem + "_3.part.avi", "part", 5, false, "", {kStem + "_3.avi"}, kFrames);
        row("final name taken", part, "part", 5, false, avi, {avi, kStem + "_2.avi"}, kFrames);
        row("last frame cut short", part, "torn", 5, false, "", {avi}, kFrames - 1);
        row("picture repeated to the end", part, "repeats", 5, false, "", {avi}, kFrames + 3);
        row("cannot be repaired", part, "garbage", 5, false, "", {part}, 0);
        row("recording another copy may be writing", part, "part", 5, true, "", {part}, -1);
        row("recording no longer written, another copy running", part, "part", old, true, "", {avi}, kFrames);
        row("someone else's recording", "holiday.part.avi", "part", old, false, "", {"holiday.part.avi"}, -1);
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
        QFile existing(dir.filePath(taken));
        QVERIFY(taken.isEmpty() || (existing.open(QIODevice::WriteOnly) && existing.write("mine") == 4));
        existing.close();
        QFile file(path);
        if (content == "part" || content == "torn" || content == "repeats") {
            QVERIFY(writeCrashedPart(path, content));
            QVERIFY(file.open(QIODevice::ReadWrite));
        } else {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content == "garbage" ? QByteArray("RIFF\0\0\0\0AVI LIST", 16) + QByteArray(4000, 'Z')
                                            : QByteArray(4000, '\1'));
        }
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(file.flush() && file.setFileTime(now.addSecs(-ageSeconds), QFileDevice::FileModificationTime));
        file.close();

        QTemporaryDir runtime;
        std::optional<RunningInstance> other;
        if (othersRunning)
            other.emplace(runtime.filePath("vorlant.lock"));
        const RunningInstance running(runtime.filePath("vorlant.lock"));
        LeftoverRecovery recovery(findLeftovers(dir.path(), now, running.othersRunning()));
        bool finished = false;
        connect(&recovery, &LeftoverRecovery::finishedSignal, this, [&finished] { finished = true; });
        recovery.start();
        QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), after);
        QVERIFY(taken.isEmpty() || (existing.open(QIODevice::ReadOnly) && existing.readAll() == "mine"));
        const QString message = recoveryMessage(recovery.report());
        QCOMPARE(message.isEmpty(), framesKept < 0);
        if (framesKept < 0)
            return;
        // It names the recording recovered, or the part that could not be.
        const QString named = framesKept == 0 ? path : dir.filePath(after.last());
        QVERIFY2(message.contains(named), qPrintable(message));
        if (framesKept == 0)
            return;
        const AviLayout layout = readAviLayout(named);
        QVERIFY(layout.closed);
        QCOMPARE(layout.indexEntries, framesKept);
        QCOMPARE(layout.playedFrames, qMin(framesKept, kFrames)); // a repeat is not decoded again
    }
};

QTEST_GUILESS_MAIN(TestLeftovers)
#include "test_leftovers.moc"
