#include "engine/photonaming.h"
#include "support/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>

namespace {

QImage testPicture(int width = 320, int height = 240)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    return image;
}

// Every entry of the folder, hidden ones included.
QStringList listing(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

NameCandidates fixedNames(const QStringList &names, int *asked = nullptr)
{
    return [names, asked](int attempt) {
        if (asked)
            *asked = attempt;
        return attempt <= names.size() ? names.at(attempt - 1) : QString();
    };
}

} // namespace

class TestPhotoNaming : public QObject {
    Q_OBJECT

private slots:
    void names();
    void suffixFollowsTheTiffSwitch();
    void writesAndReadsBack();
    void takenNamesAreSkippedNeverReplaced();
    void givesUpWhenNoCandidateIsFree();
    void failedWritesLeaveNothingAndTakeNoName_data();
    void failedWritesLeaveNothingAndTakeNoName();
    void fullDiskLeavesNothing();
    void directoryIsCreatedWhenMissing();
    void newFilesFollowTheUmask();
};

void TestPhotoNaming::names()
{
    QCOMPARE(numberedPhotoName(QStringLiteral("/home/user/Tessaran"), QStringLiteral("IMG"), 7, QStringLiteral("jpg")),
             QStringLiteral("/home/user/Tessaran/IMG_7.jpg"));
    // A "%" in a part stays as typed instead of being filled by a later part.
    QCOMPARE(numberedPhotoName(QStringLiteral("/w/100%2"), QStringLiteral("A%4"), 12, QStringLiteral("png")),
             QStringLiteral("/w/100%2/A%4_12.png"));
    QCOMPARE(numberedPhotoName(QStringLiteral("/"), QStringLiteral("IMG"), 1, QStringLiteral("jpg")),
             QStringLiteral("/IMG_1.jpg"));
    const QDateTime time(QDate(2021, 3, 9), QTime(14, 5, 31, 42));
    QCOMPARE(timedPhotoName(QStringLiteral("/home/user/Tessaran"), time, QStringLiteral("jpg")),
             QStringLiteral("/home/user/Tessaran/2021_03_09 14_05_31.042.jpg"));
    QCOMPARE(timedPhotoName(QStringLiteral("/d"), time, QStringLiteral("jpg"), 3),
             QStringLiteral("/d/2021_03_09 14_05_31.042_3.jpg"));
}

void TestPhotoNaming::suffixFollowsTheTiffSwitch()
{
    QCOMPARE(photoSuffix(QStringLiteral("jpg"), false), QStringLiteral("jpg"));
    QCOMPARE(photoSuffix(QStringLiteral("jpg"), true), QStringLiteral("tiff"));
    QVERIFY(canWriteImageFormat(QStringLiteral("jpg")));
    QVERIFY(canWriteImageFormat(QStringLiteral("PNG")));
    QVERIFY(canWriteImageFormat(QStringLiteral("tiff")));
    QVERIFY(!canWriteImageFormat(QStringLiteral("xyz")));
    QVERIFY(!canWriteImageFormat(QString()));
}

void TestPhotoNaming::writesAndReadsBack()
{
    QTemporaryDir dir;
    const QImage picture = testPicture();
    for (const QString &format : {QStringLiteral("png"), QStringLiteral("tiff"), QStringLiteral("bmp")}) {
        const QString name = dir.filePath(QStringLiteral("a.") + format);
        const SaveOutcome outcome = saveImageAsNewFile(picture, dir.path(), format, 80, fixedNames({name}));
        QVERIFY2(outcome.error.isEmpty(), qPrintable(outcome.error));
        QCOMPARE(outcome.path, name);
        // Lossless formats come back pixel for pixel (read through OpenCV,
        // which reads TIFF whether or not Qt has a plugin for it).
        const cv::Mat back = cv::imread(QFile::encodeName(name).toStdString(), cv::IMREAD_COLOR);
        QCOMPARE(back.cols, picture.width());
        QCOMPARE(back.at<cv::Vec3b>(17, 200), cv::Vec3b((200 * 17) % 256, 17, 200));
    }
    QCOMPARE(listing(dir.path()), QStringList({"a.bmp", "a.png", "a.tiff"}));
}

void TestPhotoNaming::takenNamesAreSkippedNeverReplaced()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("IMG_1.jpg"));
    const QString second = dir.filePath(QStringLiteral("IMG_2.jpg"));
    const QString third = dir.filePath(QStringLiteral("IMG_3.jpg"));
    writeFile(first, "first");
    writeFile(second, "second");
    int asked = 0;
    const SaveOutcome outcome =
        saveImageAsNewFile(testPicture(), dir.path(), QStringLiteral("jpg"), 80, fixedNames({first, second, third}, &asked));
    QCOMPARE(outcome.path, third);
    QCOMPARE(asked, 3);
    QCOMPARE(readFile(first), QByteArray("first"));
    QCOMPARE(readFile(second), QByteArray("second"));
    QVERIFY(!QImage(third).isNull());
    QCOMPARE(listing(dir.path()), QStringList({"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"}));
}

void TestPhotoNaming::givesUpWhenNoCandidateIsFree()
{
    QTemporaryDir dir;
    const QString taken = dir.filePath(QStringLiteral("x.jpg"));
    writeFile(taken, "kept");
    const SaveOutcome outcome = saveImageAsNewFile(testPicture(), dir.path(), QStringLiteral("jpg"), 80, fixedNames({taken}));
    QVERIFY(outcome.path.isEmpty());
    QVERIFY(!outcome.error.isEmpty());
    QCOMPARE(readFile(taken), QByteArray("kept"));
    QCOMPARE(listing(dir.path()), QStringList({"x.jpg"}));
}

void TestPhotoNaming::failedWritesLeaveNothingAndTakeNoName_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("directoryIsAFile");
    QTest::newRow("empty picture") << QImage() << "jpg" << false;
    QTest::newRow("unknown format") << testPicture() << "xyz" << false;
    QTest::newRow("folder is a file") << testPicture() << "jpg" << true;
}

void TestPhotoNaming::failedWritesLeaveNothingAndTakeNoName()
{
    QFETCH(QImage, picture);
    QFETCH(QString, format);
    QFETCH(bool, directoryIsAFile);
    QTemporaryDir dir;
    QString target = dir.path();
    if (directoryIsAFile) {
        target = dir.filePath(QStringLiteral("plainfile"));
        writeFile(target, "x");
    }
    int asked = 0;
    const SaveOutcome outcome =
        saveImageAsNewFile(picture, target, format, 80, fixedNames({target + QStringLiteral("/p.jpg")}, &asked));
    QVERIFY(outcome.path.isEmpty());
    QVERIFY(!outcome.error.isEmpty());
    QCOMPARE(asked, 0);
    QCOMPARE(listing(dir.path()), directoryIsAFile ? QStringList({"plainfile"}) : QStringList());
}

void TestPhotoNaming::fullDiskLeavesNothing()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("big.bmp"));
    int asked = 0;
    SaveOutcome outcome;
    {
        const FileSizeLimit limit(4096);
        outcome = saveImageAsNewFile(testPicture(), dir.path(), QStringLiteral("bmp"), 80, fixedNames({name}, &asked));
    }
    QVERIFY(outcome.path.isEmpty());
    QVERIFY2(outcome.error.contains(dir.path()), qPrintable(outcome.error));
    QCOMPARE(asked, 0);
    QCOMPARE(listing(dir.path()), QStringList());
    // With the limit gone the same write succeeds.
    outcome = saveImageAsNewFile(testPicture(), dir.path(), QStringLiteral("bmp"), 80, fixedNames({name}));
    QCOMPARE(outcome.path, name);
}

void TestPhotoNaming::directoryIsCreatedWhenMissing()
{
    QTemporaryDir dir;
    const QString nested = dir.filePath(QStringLiteral("a/b/c"));
    QVERIFY(ensureDirectory(nested).isEmpty());
    QVERIFY(QFileInfo(nested).isDir());
    QVERIFY(ensureDirectory(nested).isEmpty());
    const QString file = dir.filePath(QStringLiteral("file"));
    writeFile(file, "x");
    QVERIFY(!ensureDirectory(file).isEmpty());
    QVERIFY(!ensureDirectory(file + QStringLiteral("/below")).isEmpty());
}

void TestPhotoNaming::newFilesFollowTheUmask()
{
    QTemporaryDir dir;
    const mode_t saved = umask(022);
    const QString name = dir.filePath(QStringLiteral("p.png"));
    const SaveOutcome outcome = saveImageAsNewFile(testPicture(), dir.path(), QStringLiteral("png"), -1, fixedNames({name}));
    umask(saved);
    QCOMPARE(outcome.path, name);
    // Readable by others like any other photograph, not private like a temporary file.
    const QFile::Permissions permissions = QFileInfo(name).permissions();
    QVERIFY(permissions.testFlag(QFile::ReadOther));
    QVERIFY(!permissions.testFlag(QFile::WriteOther));
}

QTEST_MAIN(TestPhotoNaming)
#include "test_photonaming.moc"
