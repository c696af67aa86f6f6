#include "app/cache.h"
#include "scenes/deskscene.h"
#include "engine/imageprocessing.h"
#include "support/avichunks.h"
#include "support/filesizelimit.h"
#include "support/scriptedframesource.h"
#include "views/qcameraview.h"
#include "recording/videorecorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {

struct VideoFacts {
    int frames = 0;   // video chunks, counted in the file: the frames it plays for
    int pictures = 0; // chunks with a picture; the others repeat the one before
    double declaredFps = 0;
    double headerFrames = 0;
    cv::Size size;
    cv::Mat last;
};

VideoFacts readBack(const QString &path)
{
    VideoFacts facts;
    const QList<QByteArray> chunks = aviVideoChunks(path);
    facts.frames = chunks.size();
    facts.pictures = static_cast<int>(std::count_if(chunks.begin(), chunks.end(), [](const QByteArray &c) {
        return !c.isEmpty();
    }));
    cv::VideoCapture video(QFile::encodeName(path).toStdString());
    if (!video.isOpened())
        return facts;
    facts.declaredFps = video.get(cv::CAP_PROP_FPS);
    facts.headerFrames = video.get(cv::CAP_PROP_FRAME_COUNT);
    cv::Mat frame;
    while (video.read(frame) && !frame.empty()) {
        facts.size = frame.size();
        frame.copyTo(facts.last);
    }
    return facts;
}

QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files, QDir::Name);
}

cv::Mat noise(cv::Size size, int seed)
{
    cv::Mat frame(size, CV_8UC3);
    cv::theRNG().state = static_cast<uint64_t>(seed);
    cv::randu(frame, 0, 255);
    return frame;
}

// Mean brightness difference between a played frame and a picture as the
// recorder's JPEG coding leaves it (decoders differ in colour, not in brightness).
double playedDifference(const cv::Mat &played, const cv::Mat &picture)
{
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", picture, jpeg, {cv::IMWRITE_JPEG_QUALITY, VideoRecorder::kJpegQuality});
    cv::Mat expected = cv::imdecode(jpeg, cv::IMREAD_GRAYSCALE);
    cv::Mat got;
    cv::cvtColor(played, got, cv::COLOR_BGR2GRAY);
    return cv::mean(cv::abs(got - expected))[0] + cv::mean(cv::abs(expected - got))[0];
}

// Hands frames to the recorder on a 33 ms tick for about `ms`, as the widget does.
qint64 feed(VideoRecorder &recorder, int ms, const std::function<cv::Mat(int)> &frames)
{
    QElapsedTimer clock;
    clock.start();
    int tick = 0;
    while (clock.elapsed() < ms) {
        if (recorder.framesDue() > 0)
            recorder.addFrame(frames(tick));
        ++tick;
        QTest::qWait(QCameraView::kWriterIntervalMs);
    }
    return clock.elapsed();
}

int expectedFrames(qint64 ms)
{
    return static_cast<int>(ms * VideoRecorder::kFramesPerSecond / 1000.0);
}

// Files in a work directory and the frames each one plays.
QMap<QString, int> framesPerFile(const QString &directory)
{
    QMap<QString, int> frames;
    for (const QString &name : filesIn(directory))
        frames[name] = readBack(QDir(directory).filePath(name)).frames;
    return frames;
}

const char *const kRecordIntoVariable = "VORLANT_RECORD_UNTIL_KILLED";
const char *const kHandedPrefix = "handed ";
constexpr qint64 kKilledPartMs = 1000;

const QRegularExpression kVideoName(QStringLiteral("^\\d{4}_\\d{2}_\\d{2}_\\d{2}_\\d{2}_\\d{2}\\.\\d{3}\\.avi$"));

} // namespace

class TestRecording : public QObject {
    Q_OBJECT

    QTemporaryDir m_media;
    QString m_stillPath;

private slots:
    void initTestCase()
    {
        // The camera stand-in plays this still picture at 30 frames a second.
        QVERIFY(m_media.isValid());
        m_stillPath = m_media.filePath(QStringLiteral("desk.png"));
        const cv::Size size(640, 480);
        QVERIFY(cv::imwrite(m_stillPath.toStdString(), drawDeskScene(size, demoSheets(size))));
    }

    void init()
    {
        CameraInfo camera;
        camera.index = 0;
        camera.path = m_stillPath;
        camera.mediaFile = true;
        camera.sizes = {QSize(640, 480)};
        *Cache::cameras = {camera};
        Cache::config->update([](ConfigValues &v) {
            v.cameraIndex = 0;
            v.imageResolution = 0;
        });
    }

    void recorderNamesFilesAndKeepsWallTime_data()
    {
        QTest::addColumn<bool>("stillPicture");
        QTest::newRow("a new picture each time") << false;
        QTest::newRow("one picture throughout") << true;
    }

    void recorderNamesFilesAndKeepsWallTime()
    {
        QFETCH(bool, stillPicture);
        QTemporaryDir work;
        const QDateTime start(QDate(2024, 3, 5), QTime(14, 7, 9, 123));
        VideoRecorder recorder(work.path(), start);
        QVERIFY2(recorder.start(cv::Size(320, 240)), qPrintable(recorder.errorString()));
        const QString expected = work.filePath(QStringLiteral("2024_03_05_14_07_09.123.avi"));
        QCOMPARE(recorder.firstFilePath(), expected);
        // Until it is complete the file sits under a temporary name only.
        QVERIFY(!QFileInfo::exists(expected));

        const cv::Mat still = noise(cv::Size(320, 240), 7);
        const qint64 ms =
            feed(recorder, 1500, [&](int i) { return stillPicture ? still : noise(cv::Size(320, 240), i); });
        QCOMPARE(recorder.finish(), QStringList{expected});
        QCOMPARE(filesIn(work.path()), QStringList{QFileInfo(expected).fileName()});
        QCOMPARE(recorder.failure(), QString());

        const VideoFacts facts = readBack(expected);
        QCOMPARE(facts.declaredFps, VideoRecorder::kFramesPerSecond);
        QCOMPARE(facts.size, cv::Size(320, 240));
        QCOMPARE(facts.headerFrames, static_cast<double>(facts.frames));
        QVERIFY2(std::abs(facts.frames - expectedFrames(ms)) <= 2,
                 qPrintable(QStringLiteral("%1 frames in %2 ms").arg(facts.frames).arg(ms)));
        // A picture that does not change is encoded and written once, then repeated by empty chunks.
        const auto encoded = static_cast<int>(recorder.encodeTimesMs().size());
        if (stillPicture) {
            QCOMPARE(encoded, 1);
            QCOMPARE(facts.pictures, 1);
        } else {
            QVERIFY2(encoded > facts.frames / 2, qPrintable(QString::number(encoded)));
        }
    }

    void recordingContinuesInNewFiles_data()
    {
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<qint64>("maxMs");
        QTest::newRow("by duration") << RecordingLimits::kDefaultMaxPartBytes << qint64(400);
        QTest::newRow("by size") << qint64(200 * 1024) << RecordingLimits::kDefaultMaxPartMs;
    }

    void recordingContinuesInNewFiles()
    {
        QFETCH(qint64, maxBytes);
        QFETCH(qint64, maxMs);
        QTemporaryDir work;
        const QDateTime start(QDate(2024, 3, 5), QTime(14, 7, 9, 123));
        VideoRecorder recorder(work.path(), start, RecordingLimits{maxBytes, maxMs});
        QVERIFY(recorder.start(cv::Size(320, 240)));
        // Noise compresses badly: about 100 KiB a frame.
        const qint64 ms = feed(recorder, 1300, [](int i) { return noise(cv::Size(320, 240), i); });
        const QStringList files = recorder.finish();

        QVERIFY2(files.size() >= 3, qPrintable(files.join(' ')));
        QCOMPARE(files.at(0), work.filePath(QStringLiteral("2024_03_05_14_07_09.123.avi")));
        QCOMPARE(files.at(1), work.filePath(QStringLiteral("2024_03_05_14_07_09.123_2.avi")));
        QCOMPARE(files.at(2), work.filePath(QStringLiteral("2024_03_05_14_07_09.123_3.avi")));
        QCOMPARE(filesIn(work.path()).size(), files.size());
        int total = 0;
        for (const QString &file : files) {
            const VideoFacts facts = readBack(file);
            QVERIFY2(facts.frames > 0, qPrintable(file));
            QCOMPARE(facts.declaredFps, VideoRecorder::kFramesPerSecond);
            if (file != files.last() && maxMs < RecordingLimits::kDefaultMaxPartMs)
                QCOMPARE(facts.frames, static_cast<int>(maxMs * VideoRecorder::kFramesPerSecond / 1000));
            if (file != files.last() && maxBytes < RecordingLimits::kDefaultMaxPartBytes)
                QVERIFY(QFileInfo(file).size() >= maxBytes);
            total += facts.frames;
        }
        QVERIFY2(std::abs(total - expectedFrames(ms)) <= 2, qPrintable(QString::number(total)));
    }

    void framesOfAnotherSizeAreScaled()
    {
        QTemporaryDir work;
        VideoRecorder recorder(work.path(), QDateTime::currentDateTime());
        QVERIFY(recorder.start(cv::Size(320, 240)));
        const cv::Size sizes[] = {cv::Size(320, 240), cv::Size(640, 480), cv::Size(160, 120), cv::Size(333, 500)};
        feed(recorder, 800, [&](int i) { return noise(sizes[i % 4], i); });
        const QStringList files = recorder.finish();
        QCOMPARE(files.size(), 1);
        QCOMPARE(recorder.failure(), QString());
        const VideoFacts facts = readBack(files.first());
        QVERIFY(facts.frames >= 7);
        QCOMPARE(facts.size, cv::Size(320, 240));
    }

    void existingFilesAreNeverOverwritten_data()
    {
        QTest::addColumn<bool>("link");
        QTest::newRow("a file") << false;
        // Not there by its look, so the rename is where the name turns out taken.
        QTest::newRow("a link to nowhere") << true;
    }

    void existingFilesAreNeverOverwritten()
    {
        QFETCH(bool, link);
        QTemporaryDir work;
        const QDateTime start(QDate(2024, 3, 5), QTime(14, 7, 9, 123));
        const QString taken = work.filePath(QStringLiteral("2024_03_05_14_07_09.123.avi"));
        const QString nowhere = work.filePath(QStringLiteral("nowhere"));
        QFile existing(taken);
        QVERIFY(link ? QFile::link(nowhere, taken)
                     : existing.open(QIODevice::WriteOnly) && existing.write("keep me") == 7);
        existing.close();

        VideoRecorder recorder(work.path(), start);
        QVERIFY(recorder.start(cv::Size(160, 120)));
        feed(recorder, 300, [](int i) { return noise(cv::Size(160, 120), i); });
        const QStringList files = recorder.finish();
        QCOMPARE(recorder.failure(), QString());
        QCOMPARE(files, QStringList{work.filePath(QStringLiteral("2024_03_05_14_07_09.123_2.avi"))});
        QVERIFY(readBack(files.first()).frames > 0);
        if (link) {
            QVERIFY(QFileInfo(taken).isSymLink());
            QVERIFY(!QFileInfo::exists(nowhere));
        } else {
            QVERIFY(existing.open(QIODevice::ReadOnly));
            QCOMPARE(existing.readAll(), QByteArray("keep me"));
        }
    }

    // A disk slower than the pictures costs pictures (empty chunks repeat the
    // last one), never time at the end; one too slow for a picture within
    // VideoRecorder::kSlowestPictureMs ends the recording with a warning.
    void slowDiskCostsPicturesNotTime_data()
    {
        QTest::addColumn<double>("bytesPerSecond");
        QTest::addColumn<bool>("tooSlow");
        QTest::newRow("4 MB/s, a USB stick") << 4e6 << false;
        QTest::newRow("375 kB/s: 2.4 s a picture") << 3.75e5 << true;
    }

    void slowDiskCostsPicturesNotTime()
    {
        QFETCH(double, bytesPerSecond);
        QFETCH(bool, tooSlow);
        QTemporaryDir work;
        const cv::Size size(3264, 2448);
        std::vector<uchar> jpeg;
        cv::imencode(".jpg", drawDeskScene(size, demoSheets(size)), jpeg, {cv::IMWRITE_JPEG_QUALITY, 85});
        VideoRecorder recorder(work.path(), QDateTime::currentDateTime());
        recorder.setWriteObserver([bytesPerSecond](qint64 bytes) {
            QThread::usleep(static_cast<unsigned long>(static_cast<double>(bytes) * 1e6 / bytesPerSecond));
        });
        QVERIFY(recorder.start(size));
        QElapsedTimer clock;
        clock.start();
        // A camera at 30 frames a second giving JPEG bytes, each frame in a buffer of its own.
        CapturedFrame frame;
        frame.jpeg = true;
        frame.size = size;
        while (clock.elapsed() < 3000 && !recorder.waitDone(0)) {
            frame.data = cv::Mat(jpeg, true).reshape(1, 1);
            recorder.addFrame(frame);
            QThread::msleep(QCameraView::kWriterIntervalMs);
        }
        const qint64 ms = clock.elapsed();
        QElapsedTimer stopping;
        stopping.start();
        const QStringList files = recorder.finish();
        const qint64 stopMs = stopping.elapsed();
        QVERIFY2(stopMs < 800, qPrintable(QStringLiteral("stopping took %1 ms").arg(stopMs)));
        QCOMPARE(files.size(), 1);
        QCOMPARE(filesIn(work.path()), QStringList{QFileInfo(files.first()).fileName()});
        const VideoFacts facts = readBack(files.first());
        QCOMPARE(facts.headerFrames, static_cast<double>(facts.frames));
        if (tooSlow) {
            QVERIFY2(recorder.failure().contains(QStringLiteral("太慢")), qPrintable(recorder.failure()));
            QVERIFY2(ms < 3 * VideoRecorder::kSlowestPictureMs, qPrintable(QString::number(ms)));
            QVERIFY(facts.pictures >= 1);
        } else {
            QCOMPARE(recorder.failure(), QString());
            QVERIFY2(std::abs(facts.frames - expectedFrames(ms)) <= 2,
                     qPrintable(QStringLiteral("%1 frames in %2 ms").arg(facts.frames).arg(ms)));
            QVERIFY2(facts.pictures >= 3 && facts.pictures < facts.frames,
                     qPrintable(QStringLiteral("%1 pictures in %2 frames").arg(facts.pictures).arg(facts.frames)));
        }
    }

    void slowEncodingStillKeepsWallTime()
    {
        // Large noisy frames encode slower than they are due on this kind of machine;
        // pictures are then dropped but the file's length still follows the clock.
        QTemporaryDir work;
        VideoRecorder recorder(work.path(), QDateTime::currentDateTime());
        const cv::Size size(2592, 1944);
        const cv::Mat frames[] = {noise(size, 1), noise(size, 2)};
        QVERIFY(recorder.start(size));
        const qint64 ms = feed(recorder, 1200, [&](int i) { return frames[i % 2]; });
        const QStringList files = recorder.finish();
        QCOMPARE(files.size(), 1);
        const VideoFacts facts = readBack(files.first());
        QVERIFY2(std::abs(facts.frames - expectedFrames(ms)) <= 2,
                 qPrintable(QStringLiteral("%1 frames in %2 ms, %3 pictures skipped")
                                .arg(facts.frames)
                                .arg(ms)
                                .arg(recorder.skippedPictures())));
    }

    void unwritableDirectoryFailsCleanly()
    {
        QTemporaryDir work;
        // A regular file where the work directory should be: even root cannot write into it.
        const QString notADirectory = work.filePath(QStringLiteral("plain-file"));
        QFile file(notADirectory);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        VideoRecorder recorder(notADirectory, QDateTime::currentDateTime());
        QVERIFY(!recorder.start(cv::Size(320, 240)));
        QVERIFY(!recorder.errorString().isEmpty());
        QVERIFY(recorder.finish().isEmpty());
        QCOMPARE(filesIn(work.path()), QStringList{QStringLiteral("plain-file")});

        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = notADirectory; });
        QCameraView view;
        QSignalSpy warnings(&view, &QCameraView::warningSignal);
        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);
        view.init(0);
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(5000));
        view.recordBegin();
        QVERIFY(!view.isRecording());
        QCOMPARE(warnings.count(), 1);
        view.recordEnd();
        QTest::qWait(100);
        QCOMPARE(results.count(), 0);
        QCOMPARE(filesIn(work.path()), QStringList{QStringLiteral("plain-file")});
    }

    void recordingFromTheCamera()
    {
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = work.path(); });
        QCameraView view;
        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);

        // Nothing starts while the camera is still opening.
        view.init(0);
        view.recordBegin();
        QVERIFY(!view.isRecording());
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(5000));

        const QDateTime before = QDateTime::currentDateTime();
        QElapsedTimer clock;
        clock.start();
        view.recordBegin();
        QVERIFY(view.isRecording());
        QTest::qWait(2000);
        view.recordEnd();
        const qint64 ms = clock.elapsed();
        QVERIFY(!view.isRecording());

        QTRY_COMPARE(results.count(), 1);
        const QList<QString> paths = results.first().at(0).value<QList<QString>>();
        QCOMPARE(results.first().at(1).toInt(), 0);
        QCOMPARE(paths.size(), 1);
        const QFileInfo video(paths.first());
        QCOMPARE(video.absolutePath(), QFileInfo(work.path()).absoluteFilePath());
        QVERIFY2(kVideoName.match(video.fileName()).hasMatch(), qPrintable(video.fileName()));
        const QDateTime named =
            QDateTime::fromString(video.completeBaseName(), QStringLiteral("yyyy_MM_dd_HH_mm_ss.zzz"));
        QVERIFY(named >= before.addMSecs(-1) && named <= before.addMSecs(ms));
        QCOMPARE(paths.first(), view.recordingFilePath());
        QCOMPARE(filesIn(work.path()), QStringList{video.fileName()});

        const VideoFacts facts = readBack(paths.first());
        QCOMPARE(facts.size, cv::Size(640, 480));
        QCOMPARE(facts.declaredFps, VideoRecorder::kFramesPerSecond);
        const double seconds = facts.frames / facts.declaredFps;
        QVERIFY2(std::abs(seconds - ms / 1000.0) < 0.25,
                 qPrintable(QStringLiteral("%1 s of video for %2 ms").arg(seconds).arg(ms)));
    }

    void viewSplitsLongRecordings()
    {
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = work.path(); });
        QCameraView view;
        view.setRecordingLimits(RecordingLimits{RecordingLimits::kDefaultMaxPartBytes, 500});
        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);
        view.init(0);
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(5000));
        view.recordBegin();
        QTest::qWait(1300);
        view.recordEnd();

        QTRY_COMPARE(results.count(), 1);
        const QList<QString> paths = results.first().at(0).value<QList<QString>>();
        QCOMPARE(paths.size(), 3);
        const QString stem = QFileInfo(paths.at(0)).completeBaseName();
        QCOMPARE(QFileInfo(paths.at(1)).fileName(), stem + QStringLiteral("_2.avi"));
        QCOMPARE(QFileInfo(paths.at(2)).fileName(), stem + QStringLiteral("_3.avi"));
        QCOMPARE(readBack(paths.at(0)).frames, 5);
        QCOMPARE(readBack(paths.at(1)).frames, 5);
        QVERIFY(readBack(paths.at(2)).frames > 0);
    }

    void destroyingTheViewCompletesTheRecording()
    {
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = work.path(); });
        auto *view = new QCameraView;
        view->init(0);
        QSignalSpy opened(view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(5000));
        view->recordBegin();
        QVERIFY(view->isRecording());
        QTest::qWait(700);
        delete view;

        const QStringList files = filesIn(work.path());
        QCOMPARE(files.size(), 1);
        QVERIFY2(kVideoName.match(files.first()).hasMatch(), qPrintable(files.first()));
        QVERIFY(readBack(work.filePath(files.first())).frames >= 7);
    }

    void cameraReopenedAtAnotherSizeDuringRecording()
    {
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = work.path(); });
        auto log = std::make_shared<ScriptedLog>();
        QCameraView view;
        // The first 40 reads are 640 x 480, later ones 320 x 240.
        view.captureThread()->setFrameSourceFactory(scriptedFactory(log, [](int i) {
            return i < 40 ? cv::Mat(480, 640, CV_8UC3, cv::Scalar(0, 0, 200))
                          : cv::Mat(240, 320, CV_8UC3, cv::Scalar(0, 200, 0));
        }));
        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);
        QSignalSpy warnings(&view, &QCameraView::warningSignal);
        view.init(0);
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(5000));
        view.recordBegin();
        QVERIFY(view.isRecording());
        QTRY_COMPARE_WITH_TIMEOUT(view.displayedImage().width(), 320, 10000);
        QTest::qWait(300);
        view.recordEnd();
        QCOMPARE(warnings.count(), 0);
        QTRY_COMPARE(results.count(), 1);
        const QString path = results.first().at(0).value<QList<QString>>().first();
        cv::VideoCapture video(path.toStdString());
        cv::Mat first, last, frame;
        while (video.read(frame)) {
            if (first.empty())
                first = frame.clone();
            last = frame.clone();
        }
        QCOMPARE(first.size(), cv::Size(640, 480));
        QCOMPARE(last.size(), cv::Size(640, 480));
        // The later, smaller green frames were scaled up, not dropped.
        QVERIFY(last.at<cv::Vec3b>(240, 320)[1] > 150);
    }
    void stopReturnsAtOnceAfterALongRecording()
    {
        // Eight-megapixel pictures, each new, for longer than an encoder that
        // queued them could keep up with on a small machine.
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = work.path(); });
        const cv::Size size(3264, 2448);
        std::vector<cv::Mat> scenes;
        for (unsigned seed = 1; seed <= 3; ++seed)
            scenes.push_back(drawDeskScene(size, demoSheets(size), seed));
        QCameraView view;
        view.captureThread()->setFrameSourceFactory(
            scriptedFactory(std::make_shared<ScriptedLog>(), [&](int i) { return scenes[i % 3]; }));
        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);
        QSignalSpy warnings(&view, &QCameraView::warningSignal);
        view.init(0);
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(20000));

        QElapsedTimer clock;
        clock.start();
        view.recordBegin();
        QVERIFY(view.isRecording());
        QTest::qWait(6000);
        QElapsedTimer stopping;
        stopping.start();
        view.recordEnd();
        const qint64 stopMs = stopping.elapsed();
        const qint64 ms = clock.elapsed();
        QVERIFY2(stopMs < 500, qPrintable(QStringLiteral("recordEnd() took %1 ms").arg(stopMs)));
        QVERIFY(!view.isRecording());

        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, 20000);
        QCOMPARE(warnings.count(), 0);
        const QList<QString> paths = results.first().at(0).value<QList<QString>>();
        QCOMPARE(paths.size(), 1);
        QCOMPARE(filesIn(work.path()), QStringList{QFileInfo(paths.first()).fileName()});
        const VideoFacts facts = readBack(paths.first());
        QCOMPARE(facts.size, size);
        QVERIFY2(std::abs(facts.frames - expectedFrames(ms)) <= 3,
                 qPrintable(QStringLiteral("%1 frames in %2 ms").arg(facts.frames).arg(ms)));
    }

    void fullDiskEndsTheRecordingAndKeepsWholeFiles_data()
    {
        QTest::addColumn<int>("limitBytes");
        QTest::addColumn<qint64>("partMs");
        QTest::addColumn<int>("plainMs"); // pictures compress to almost nothing until then
        QTest::addColumn<int>("minimumFiles");
        QTest::newRow("no room for the header") << 100 << RecordingLimits::kDefaultMaxPartMs << 0 << 0;
        QTest::newRow("full in the first file") << (512 << 10) << RecordingLimits::kDefaultMaxPartMs << 0 << 1;
        QTest::newRow("full after two files") << (512 << 10) << qint64(300) << 900 << 3;
    }

    void fullDiskEndsTheRecordingAndKeepsWholeFiles()
    {
        QFETCH(int, limitBytes);
        QFETCH(qint64, partMs);
        QFETCH(int, plainMs);
        QFETCH(int, minimumFiles);
        QTemporaryDir work;
        Cache::config->update([&](ConfigValues &v) { v.userDocumentsLocation = work.path(); });
        const cv::Mat plain(480, 640, CV_8UC3, cv::Scalar(40, 60, 80));
        const cv::Mat noisy[] = {noise(cv::Size(640, 480), 1), noise(cv::Size(640, 480), 2)};
        std::atomic<bool> plainPictures{plainMs > 0};
        QCameraView view;
        view.setRecordingLimits(RecordingLimits{RecordingLimits::kDefaultMaxPartBytes, partMs});
        view.captureThread()->setFrameSourceFactory(scriptedFactory(std::make_shared<ScriptedLog>(), [&](int i) {
            return plainPictures ? plain : noisy[i % 2];
        }));
        QSignalSpy results(&view, &QCameraView::sendTakePhotoImageSignal);
        QSignalSpy warnings(&view, &QCameraView::warningSignal);
        view.init(0);
        QSignalSpy opened(&view, &QCameraView::openCameraSignal);
        QVERIFY(opened.wait(5000));

        {
            FileSizeLimit limit(static_cast<rlim_t>(limitBytes));
            view.recordBegin();
            if (minimumFiles > 0) {
                QVERIFY(view.isRecording());
                QTest::qWait(plainMs);
                plainPictures = false;
                // The recording ends by itself, without recordEnd().
                QTRY_VERIFY_WITH_TIMEOUT(!view.isRecording(), 10000);
            }
        }
        QVERIFY(!view.isRecording());
        QTRY_COMPARE_WITH_TIMEOUT(warnings.count(), 1, 10000);
        const QString warning = warnings.first().at(0).toString();
        QVERIFY2(warning.contains(QStringLiteral("磁盘空间不足")) || minimumFiles == 0, qPrintable(warning));

        QStringList reported;
        for (const QList<QVariant> &result : std::as_const(results))
            reported += result.at(0).value<QList<QString>>();
        QCOMPARE(reported.size() >= minimumFiles, true);
        QCOMPARE(results.count(), minimumFiles > 0 ? 1 : 0);
        // Every file reported plays; nothing else, half-written or not, is left.
        QStringList names;
        for (const QString &path : std::as_const(reported)) {
            const VideoFacts facts = readBack(path);
            QVERIFY2(facts.frames > 0, qPrintable(path));
            QCOMPARE(facts.size, cv::Size(640, 480));
            // Its last frame is a whole picture, not one cut short by the failed write.
            double nearest = 255;
            for (const cv::Mat &picture : {plain, noisy[0], noisy[1]})
                nearest = std::min(nearest, playedDifference(facts.last, picture));
            QVERIFY2(nearest < 5, qPrintable(QStringLiteral("%1 differs by %2").arg(path).arg(nearest)));
            QVERIFY(warning.contains(QDir::toNativeSeparators(path)));
            names << QFileInfo(path).fileName();
        }
        QCOMPARE(filesIn(work.path()), names);
    }

    void killedRecordingKeepsWhatWasWritten()
    {
        QTemporaryDir work;
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(kRecordIntoVariable), work.path());
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("recordUntilKilled")});
        QVERIFY(child.waitForStarted());

        // Kill it late in its third file, with two complete.
        const qint64 framesPerPart = kKilledPartMs / 100;
        qint64 handed = 0;
        QByteArray output;
        QElapsedTimer clock;
        clock.start();
        while (handed < 2 * framesPerPart + 8 && clock.elapsed() < 30000) {
            child.waitForReadyRead(100);
            output += child.readAllStandardOutput();
            const int at = output.lastIndexOf(kHandedPrefix);
            if (at >= 0)
                handed = output.mid(at + qstrlen(kHandedPrefix)).split('\n').first().toLongLong();
        }
        child.kill();
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const QMap<QString, int> frames = framesPerFile(work.path());
        int complete = 0;
        int total = 0;
        for (auto file = frames.cbegin(); file != frames.cend(); ++file) {
            total += file.value();
            if (file.key().endsWith(QLatin1String(".part.avi")))
                continue;
            // A completed file is whole: all its frames, listed in its index.
            ++complete;
            QCOMPARE(file.value(), static_cast<int>(framesPerPart));
            QCOMPARE(readBack(work.filePath(file.key())).headerFrames, static_cast<double>(file.value()));
        }
        QVERIFY2(complete >= 2, qPrintable(QStringList(frames.keys()).join(' ')));
        // The file being written plays up to about where the program died.
        QVERIFY2(total >= handed - 3, qPrintable(QStringLiteral("%1 of %2 frames kept").arg(total).arg(handed)));
    }

    // Run in a child process by killedRecordingKeepsWhatWasWritten.
    void recordUntilKilled()
    {
        const QString directory = qEnvironmentVariable(kRecordIntoVariable);
        if (directory.isEmpty())
            QSKIP("started by killedRecordingKeepsWhatWasWritten only");
        VideoRecorder recorder(directory, QDateTime::currentDateTime(),
                               RecordingLimits{RecordingLimits::kDefaultMaxPartBytes, kKilledPartMs});
        QVERIFY(recorder.start(cv::Size(320, 240)));
        const cv::Mat pictures[] = {noise(cv::Size(320, 240), 1), noise(cv::Size(320, 240), 2)};
        qint64 handed = 0;
        for (int i = 0;; ++i) {
            const int due = recorder.framesDue();
            if (due > 0) {
                recorder.addFrame(pictures[i % 2]);
                handed += due;
                std::printf("%s%lld\n", kHandedPrefix, static_cast<long long>(handed));
                std::fflush(stdout);
            }
            QThread::msleep(QCameraView::kWriterIntervalMs);
        }
    }
};

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
