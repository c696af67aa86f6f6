#include "app/cache.h"
#include "engine/deskscene.h"
#include "engine/imageprocessing.h"
#include "support/scriptedframesource.h"
#include "views/qcameraview.h"
#include "views/videorecorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

namespace {

struct VideoFacts {
    int frames = 0; // counted by reading every frame
    double declaredFps = 0;
    double headerFrames = 0;
    cv::Size size;
};

VideoFacts readBack(const QString &path)
{
    VideoFacts facts;
    cv::VideoCapture video(QFile::encodeName(path).toStdString());
    if (!video.isOpened())
        return facts;
    facts.declaredFps = video.get(cv::CAP_PROP_FPS);
    facts.headerFrames = video.get(cv::CAP_PROP_FRAME_COUNT);
    cv::Mat frame;
    while (video.read(frame) && !frame.empty()) {
        facts.size = frame.size();
        ++facts.frames;
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

    void recorderNamesFilesAndKeepsWallTime()
    {
        QTemporaryDir work;
        const QDateTime start(QDate(2024, 3, 5), QTime(14, 7, 9, 123));
        VideoRecorder recorder(work.path(), start);
        QVERIFY2(recorder.start(cv::Size(320, 240)), qPrintable(recorder.errorString()));
        const QString expected = work.filePath(QStringLiteral("2024_03_05_14_07_09.123.avi"));
        QCOMPARE(recorder.firstFilePath(), expected);
        // Until it is complete the file sits under a temporary name only.
        QVERIFY(!QFileInfo::exists(expected));

        const qint64 ms = feed(recorder, 1500, [](int i) { return noise(cv::Size(320, 240), i); });
        QCOMPARE(recorder.finish(), QStringList{expected});
        QCOMPARE(filesIn(work.path()), QStringList{QFileInfo(expected).fileName()});

        const VideoFacts facts = readBack(expected);
        QCOMPARE(facts.declaredFps, VideoRecorder::kFramesPerSecond);
        QCOMPARE(facts.size, cv::Size(320, 240));
        QCOMPARE(facts.headerFrames, static_cast<double>(facts.frames));
        QVERIFY2(std::abs(facts.frames - expectedFrames(ms)) <= 2,
                 qPrintable(QStringLiteral("%1 frames in %2 ms").arg(facts.frames).arg(ms)));
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

    void existingFilesAreNeverOverwritten()
    {
        QTemporaryDir work;
        const QDateTime start(QDate(2024, 3, 5), QTime(14, 7, 9, 123));
        QFile existing(work.filePath(QStringLiteral("2024_03_05_14_07_09.123.avi")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
        existing.close();

        VideoRecorder recorder(work.path(), start);
        QVERIFY(recorder.start(cv::Size(160, 120)));
        feed(recorder, 300, [](int i) { return noise(cv::Size(160, 120), i); });
        const QStringList files = recorder.finish();
        QCOMPARE(files, QStringList{work.filePath(QStringLiteral("2024_03_05_14_07_09.123_2.avi"))});
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("keep me"));
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

        QCOMPARE(results.count(), 1);
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

        QCOMPARE(results.count(), 1);
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
        QCOMPARE(results.count(), 1);
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
};

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
