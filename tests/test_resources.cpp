// The resource pictures are drawn at build time; these tests look at what the
// build put beside the executable and at how the drawing program behaves.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

struct Expected {
    const char *path;
    QSize size;
};

// The logo sits unscaled in a 230 x 79 label with a 5-pixel margin; the PDF and
// video icons sit unscaled in a 58 x 58 thumbnail; the others are stretched.
const QList<Expected> &expectedPictures()
{
    static const QList<Expected> list = {
        {"vorlant.png", QSize(220, 69)},
        {"back/Picture_90.png", QSize(90, 90)},
        {"pdf.png", QSize(48, 48)},
        {"tiff.png", QSize(96, 96)},
        {"recored.png", QSize(48, 48)},
        {"icon/icon_oleft.png", QSize(32, 32)},
        {"icon/icon_oright.png", QSize(32, 32)},
        {"icon/icon_sync.png", QSize(32, 32)},
        {"icon/icon_toggle_16.png", QSize(32, 32)},
        {"icon/icon_webcam.png", QSize(32, 32)},
        {"icon/icon_video_32_line.png", QSize(32, 32)},
        {"icon/icon_snap_clock.png", QSize(32, 32)},
        {"icon/icon_setting_32.png", QSize(32, 32)},
        {"icon/icon_snap_32.png", QSize(32, 32)},
        {"vorlant-256.png", QSize(256, 256)},
    };
    return list;
}

QString binaryDir()
{
    return QFileInfo(qEnvironmentVariable("VORLANT_BINARY")).absolutePath();
}

QString generatorPath()
{
    return binaryDir() + QStringLiteral("/vorlant-make-resources");
}

int runGenerator(const QStringList &arguments, QString *errorText = nullptr)
{
    QProcess process;
    process.start(generatorPath(), arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (errorText)
        *errorText = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Every file under dir, relative to it, sorted.
QStringList filesUnder(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

QStringList expectedPaths()
{
    QStringList paths;
    for (const Expected &e : expectedPictures())
        paths << QString::fromLatin1(e.path);
    paths << QStringLiteral("shutter.wav");
    paths.sort();
    return paths;
}

int countPixels(const QImage &image, const QRect &area, const std::function<bool(QRgb)> &wanted)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += wanted(image.pixel(x, y)) ? 1 : 0;
    return n;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("VORLANT_BINARY"), "VORLANT_BINARY is not set");
        QVERIFY2(QFileInfo(generatorPath()).isExecutable(), qPrintable(generatorPath()));
    }

    void builtPicture_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        for (const Expected &e : expectedPictures())
            QTest::newRow(e.path) << QString::fromLatin1(e.path) << e.size;
    }

    // Each picture is beside the executable, reads back, has its size and is not blank.
    void builtPicture()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QString file = binaryDir() + QStringLiteral("/Resources/") + path;
        QVERIFY2(QFileInfo::exists(file), qPrintable(file));
        const QImage image(file);
        QVERIFY2(!image.isNull(), qPrintable(file));
        QCOMPARE(image.size(), size);

        const QRgb first = image.pixel(0, 0);
        const int differing = countPixels(image, image.rect(), [first](QRgb c) { return c != first; });
        QVERIFY2(differing > image.width() * image.height() / 20, "the picture is nearly one flat colour");

        if (path.startsWith(QLatin1String("icon/"))) {
            // Icons lie on rounded buttons: transparent corners, a visible glyph.
            QVERIFY(image.hasAlphaChannel());
            for (const QPoint &corner : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 31), QPoint(31, 31)})
                QCOMPARE(qAlpha(image.pixel(corner)), 0);
            const int opaque = countPixels(image, image.rect(), [](QRgb c) { return qAlpha(c) > 200; });
            QVERIFY2(opaque > 60, qPrintable(QStringLiteral("only %1 opaque pixels").arg(opaque)));
        }
    }

    // The name in the logo needs a font; a build machine without one would draw a blank card.
    void logoCarriesTheName()
    {
        const QImage logo(binaryDir() + QStringLiteral("/Resources/vorlant.png"));
        QVERIFY(!logo.isNull());
        const QRect letters(80, 0, logo.width() - 80, logo.height());
        const int dark = countPixels(logo, letters, [](QRgb c) { return qAlpha(c) > 200 && qGray(c) < 100; });
        QVERIFY2(dark > 400, qPrintable(QStringLiteral("only %1 dark pixels where the name belongs").arg(dark)));
    }

    // The shutter click must be a PCM file any player takes, short, and not silence.
    void shutterSoundIsAShortClick()
    {
        QFile file(binaryDir() + QStringLiteral("/Resources/shutter.wav"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray wav = file.readAll();
        QVERIFY(wav.size() > 44);
        auto u16 = [&wav](int at) { return quint16(quint8(wav[at]) | quint8(wav[at + 1]) << 8); };
        auto u32 = [&](int at) { return quint32(u16(at)) | quint32(u16(at + 2)) << 16; };
        QCOMPARE(wav.left(4), QByteArray("RIFF"));
        QCOMPARE(u32(4), quint32(wav.size() - 8));
        QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(u16(20), quint16(1));  // PCM
        QCOMPARE(u16(22), quint16(1));  // mono
        QCOMPARE(u16(34), quint16(16)); // bits per sample
        QCOMPARE(wav.mid(36, 4), QByteArray("data"));
        const quint32 rate = u32(24);
        const quint32 dataBytes = u32(40);
        QCOMPARE(dataBytes, quint32(wav.size() - 44));
        const double seconds = dataBytes / 2.0 / rate;
        QVERIFY2(seconds > 0.05 && seconds < 0.5, qPrintable(QString::number(seconds)));
        int peak = 0;
        for (quint32 i = 0; i < dataBytes; i += 2)
            peak = qMax(peak, qAbs(int(qint16(u16(44 + int(i))))));
        QVERIFY2(peak > 8000, qPrintable(QString::number(peak)));
    }

    void mirroredTurnIcons()
    {
        const QImage left(binaryDir() + QStringLiteral("/Resources/icon/icon_oleft.png"));
        const QImage right(binaryDir() + QStringLiteral("/Resources/icon/icon_oright.png"));
        QVERIFY(!left.isNull() && !right.isNull());
        QVERIFY(left != right);
        const QImage mirrored = left.convertToFormat(right.format()).mirrored(true, false);
        int far = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                far += qAbs(qAlpha(mirrored.pixel(x, y)) - qAlpha(right.pixel(x, y))) > 40 ? 1 : 0;
        QVERIFY2(far < 10, qPrintable(QStringLiteral("%1 pixels differ from the mirror image").arg(far)));
    }

    // A fresh folder gets exactly the pictures, no stray temporary files, and
    // a damaged picture from an earlier run is replaced.
    void generatorFillsAFolder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.filePath(QStringLiteral("Resources"));
        QCOMPARE(runGenerator({out}), 0);
        QCOMPARE(filesUnder(out), expectedPaths());

        const QString logo = out + QStringLiteral("/vorlant.png");
        QFile damaged(logo);
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write("not a picture");
        damaged.close();
        QCOMPARE(runGenerator({out}), 0);
        QCOMPARE(QImage(logo).size(), QSize(220, 69));
        QCOMPARE(filesUnder(out), expectedPaths());
    }

    // A folder that cannot be made is reported; every other picture is still written.
    void generatorReportsWhatItCannotWrite()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.path();
        QFile blocker(out + QStringLiteral("/icon"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        QString errorText;
        QCOMPARE(runGenerator({out}, &errorText), 1);
        QVERIFY2(errorText.contains(QLatin1String("icon")), qPrintable(errorText));
        QStringList written = filesUnder(out);
        written.removeOne(QStringLiteral("icon"));
        QStringList outsideIcons;
        for (const QString &p : expectedPaths())
            if (!p.startsWith(QLatin1String("icon/")))
                outsideIcons << p;
        QCOMPARE(written, outsideIcons);
    }

    void generatorNeedsAnOutputFolder()
    {
        QString errorText;
        QCOMPARE(runGenerator({}, &errorText), 2);
        QVERIFY(errorText.contains(QLatin1String("usage")));
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "test_resources.moc"
