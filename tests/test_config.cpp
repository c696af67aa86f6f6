#include "app/cache.h"
#include "app/config.h"
#include "support/filesizelimit.h"
#include "support/workingdir.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <csignal>
#include <thread>
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every folder synced, with the files it held at that moment.
QStringList g_syncedFolders;

int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The file a first start writes; HOME stands for the home directory.
const QByteArray kFactoryFile = QByteArray("[camera]\nexposure=-3\nindex=0\n\n"
                                           "[image]\ncodec=jpg\nfourcc=0\nout_resolution=3\nquality=80\nresolution=0\n"
                                           "shooting_time=5\n\n"
                                           "[painting]\nmain_resolution=5\nother_resolution=5\npercentage=30\n\n"
                                           "[save]\nmerge_source=true\nnumber=1\npdf_source=true\nplaysound=true\n"
                                           "prefix=IMG\ntype=0\n\n"
                                           "[user]\ndocumentsLocation=HOME/Tessaran\n\n"
                                           "[watermark]\ncolor=ff000000\nfont_family=Arial\nfont_size=100\n"
                                           "font_styleName=Regular\nstrikeOut=false\ntext=\ntime=false\n"
                                           "transparency=50\nunderline=false\nx=50\ny=50\n");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// Stands in front of the C library's fsync to see which folders get synced.
extern "C" int fsync(int fd)
{
    using Fsync = int (*)(int);
    static const Fsync next = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        const QString folder = QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget();
        g_syncedFolders << folder + QStringLiteral(": ")
                               + QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name).join(' ');
    }
    return next(fd);
}

class TestConfig : public QObject {
    Q_OBJECT

private slots:
    void firstStartMakesTheWorkDirectory()
    {
        ScopedWorkingDir wd;
        const QString home = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
        QDir(home + "/Tessaran").removeRecursively();
        Config config;
        QVERIFY(QFile::exists(wd.file("system.ini")));
        QVERIFY(QDir(home + "/Tessaran").exists());
        QVERIFY(config.appDirPath.isEmpty());
        QVERIFY(config.outputSizes.isEmpty());
    }

    // The file as every earlier version wrote it, byte for byte: sections and
    // keys in order, values spelt the same, the PDF switches only once set.
    void fileKeepsItsFormat_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("factory") << false << kFactoryFile;
        QTest::newRow("every value changed")
            << true
            << QByteArray("[camera]\nexposure=-7\nindex=2\n\n"
                          "[image]\ncodec=png\nfourcc=1\nout_resolution=11\nquality=33\nresolution=4\n"
                          "shooting_time=12\n\n"
                          "[painting]\nmain_resolution=7\nother_resolution=0\npercentage=45\n\n"
                          "[save]\nmerge_source=false\nnumber=314\npdf_auto_capture=true\npdf_ocr=false\n"
                          "pdf_source=false\nplaysound=false\nprefix=\" \\x626b\\x63cf, A\"\ntype=1\n\n"
                          "[user]\ndocumentsLocation=\"/srv/\\x6587\\x6863/a,b\"\n\n"
                          "[watermark]\ncolor=ff123456\nfont_family=DejaVu Serif\nfont_size=36\n"
                          "font_styleName=Bold Italic\nstrikeOut=true\ntext=\"\\x673a\\x5bc6 \\\"x\\\" 1=2;3\"\n"
                          "time=true\ntransparency=10\nunderline=true\nx=0\ny=100\n");
    }

    void fileKeepsItsFormat()
    {
        QFETCH(bool, changed);
        QFETCH(QByteArray, expected);
        ScopedWorkingDir wd;
        Config config;
        if (changed) {
            config.update([](ConfigValues &v) {
                v.cameraIndex = 2;
                v.cameraExposure = -7;
                v.imageFourcc = 1;
                v.imageResolution = 4;
                v.imageOutResolution = 11;
                v.imageCodec = "png";
                v.imageShootingTime = 12;
                v.imageQuality = 33;
                v.saveType = 1;
                v.savePrefix = " 扫描, A";
                v.saveNumber = 314;
                v.savePlaysound = false;
                v.saveMergeSource = false;
                v.savePdfSource = false;
                v.watermarkText = "机密 \"x\" 1=2;3";
                v.watermarkTime = true;
                v.watermarkColor = "ff123456";
                v.watermarkFontFamily = "DejaVu Serif";
                v.watermarkFontSize = 36;
                v.watermarkFontStyleName = "Bold Italic";
                v.watermarkStrikeOut = true;
                v.watermarkUnderline = true;
                v.watermarkTransparency = 10;
                v.watermarkX = 0;
                v.watermarkY = 100;
                v.paintingPercentage = 45;
                v.paintingMainResolution = 7;
                v.paintingOtherResolution = 0;
                v.userDocumentsLocation = "/srv/文档/a,b";
                v.pdfAutoCapture = true;
                v.pdfOcr = false;
            });
            QVERIFY(config.save());
        }
        const QByteArray home = QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
        expected.replace("HOME", home);
        QCOMPARE(readFile(wd.file("system.ini")), expected);
        // Reading the file back and writing it again changes nothing.
        Config reread;
        QVERIFY(reread.save());
        QCOMPARE(readFile(wd.file("system.ini")), expected);
    }

    void emptyFileGivesZeroEmptyFalse()
    {
        ScopedWorkingDir wd;
        writeFile(wd.file("system.ini"), QByteArray());
        Config config;
        QCOMPARE(config.imageOutResolution, 0);
        QCOMPARE(config.imageShootingTime, 0);
        QCOMPARE(config.imageQuality, 0);
        QCOMPARE(config.cameraExposure, 0);
        QVERIFY(config.imageCodec.isEmpty());
        QVERIFY(config.savePrefix.isEmpty());
        QVERIFY(config.userDocumentsLocation.isEmpty());
        QVERIFY(!config.savePlaysound);
        QVERIFY(!config.saveMergeSource);
        // The file is completed only by the next save.
        QVERIFY(readFile(wd.file("system.ini")).isEmpty());
        // An empty work directory never means the root directory.
        QCOMPARE(config.workDirectory(), Config::defaultWorkDirectory());
        QVERIFY(config.save());
        QVERIFY(!readFile(wd.file("system.ini")).isEmpty());
    }

    void damagedFilesNeverCrashAndReadAsZero_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated") << QByteArray("[image]\nquality=8");
        static const char garbage[] = "\x00\xff\xfe[[[=\n\x01\x02=\x03\n[image\nquality\n";
        QTest::newRow("garbage") << QByteArray(garbage, sizeof garbage - 1);
        QTest::newRow("wrong types") << QByteArray("[image]\nquality=high\nout_resolution=3.5\ncodec=png\n"
                                                   "[save]\nplaysound=maybe\nnumber=12abc\n[watermark]\ntime=yes\n");
        QTest::newRow("huge number") << QByteArray("[save]\nnumber=99999999999999999999\n");
    }

    void damagedFilesNeverCrashAndReadAsZero()
    {
        QFETCH(QByteArray, content);
        ScopedWorkingDir wd;
        writeFile(wd.file("system.ini"), content);
        Config config;
        QVERIFY(config.saveNumber == 0 || QTest::currentDataTag() == QByteArray("truncated"));
        QCOMPARE(config.imageOutResolution, 0);
        QVERIFY(!config.savePlaysound);
        QVERIFY(!config.watermarkTime);
        if (QTest::currentDataTag() == QByteArray("truncated"))
            QCOMPARE(config.imageQuality, 8);
        if (QTest::currentDataTag() == QByteArray("wrong types")) {
            QCOMPARE(config.imageQuality, 0);
            QCOMPARE(config.imageCodec, QString("png"));
        }
    }

    void booleansReadOnlyTheirWords()
    {
        ScopedWorkingDir wd;
        writeFile(wd.file("system.ini"), "[save]\nplaysound=true\nmerge_source=1\npdf_source=false\n"
                                         "[watermark]\ntime=TRUE\nunderline=0\n");
        Config config;
        QVERIFY(config.savePlaysound);
        QVERIFY(config.saveMergeSource);
        QVERIFY(!config.savePdfSource);
        QVERIFY(config.watermarkTime);
        QVERIFY(!config.watermarkUnderline);
    }

    void eachWorkingDirectoryHasItsOwnFile()
    {
        QString first;
        {
            ScopedWorkingDir wd;
            first = wd.path();
            Config config;
            config.update([](ConfigValues &v) { v.imageQuality = 33; });
            QVERIFY(config.save());
            Config again;
            QCOMPARE(again.imageQuality, 33);
        }
        ScopedWorkingDir other;
        QVERIFY(other.path() != first);
        Config config;
        QCOMPARE(config.imageQuality, 80);
        QVERIFY(QFile::exists(other.file("system.ini")));
    }

    void factoryResetKeepsCameraAndWorkDirectory()
    {
        ScopedWorkingDir wd;
        Config config;
        config.update([&](ConfigValues &v) {
            v.cameraIndex = 2;
            v.userDocumentsLocation = wd.file("docs");
            v.imageQuality = 10;
            v.savePrefix = "X";
            v.saveNumber = 40;
        });
        config.init();
        QCOMPARE(config.cameraIndex, 2);
        QCOMPARE(config.userDocumentsLocation, wd.file("docs"));
        QCOMPARE(config.imageQuality, 80);
        QCOMPARE(config.savePrefix, QString("IMG"));
        QCOMPARE(config.saveNumber, 1);
        // init alone does not write the file.
        Config reread;
        QCOMPARE(reread.imageQuality, 80);
        QCOMPARE(reread.cameraIndex, 0);
    }

    void missingWorkDirectoryIsCreatedAtStart()
    {
        ScopedWorkingDir wd;
        {
            Config config;
            config.update([&](ConfigValues &v) { v.userDocumentsLocation = wd.file("a/b/work"); });
            QVERIFY(config.save());
        }
        QVERIFY(!QDir(wd.file("a/b/work")).exists());
        Config config;
        QVERIFY(QDir(wd.file("a/b/work")).exists());
    }

    void failedWriteLeavesOldFileWhole_data()
    {
        QTest::addColumn<QStringList>("keys"); // empty: the whole file
        QTest::addColumn<int>("room");         // bytes the file may grow by
        QTest::newRow("whole file") << QStringList() << 16;
        QTest::newRow("one key") << QStringList{"watermark/text"} << 16;
        QTest::newRow("one key, copy cut short") << QStringList{"save/pdf_ocr"} << -100;
    }

    void failedWriteLeavesOldFileWhole()
    {
        QFETCH(QStringList, keys);
        QFETCH(int, room);
        ScopedWorkingDir wd;
        Config config;
        const QByteArray before = readFile(wd.file("system.ini"));
        QVERIFY(!before.isEmpty());

        // Root ignores permissions, so make the write fail with a file-size limit instead.
        config.update([&](ConfigValues &v) {
            v.watermarkText = QString(before.size() * 4, QLatin1Char('x'));
            v.pdfOcr = true;
        });
        bool saved = true;
        {
            const FileSizeLimit limit(static_cast<rlim_t>(before.size() + room));
            saved = keys.isEmpty() ? config.save() : config.saveKeys(keys);
        }

        QVERIFY(!saved);
        QCOMPARE(readFile(wd.file("system.ini")), before);
        // No temporary or half-written file is left beside it.
        const QStringList left = QDir(wd.path()).entryList(QDir::Files);
        QCOMPARE(left, QStringList{"system.ini"});
    }

    // A switch written alone leaves the rest of the file as it was, whatever
    // else was changed in memory and not saved.
    void savingOneKeyLeavesTheRest_data()
    {
        QTest::addColumn<QByteArray>("before"); // null: no file
        QTest::addColumn<QByteArray>("after");
        const QByteArray withOcr = QByteArray(kFactoryFile).replace("number=1\n", "number=1\npdf_ocr=true\n");
        QTest::newRow("file as written") << kFactoryFile << withOcr;
        QTest::newRow("edited by hand")
            << QByteArray("[save]\nprefix=Scan\nfoo=bar\n[extra]\nkeep=1\n")
            << QByteArray("[extra]\nkeep=1\n\n[save]\nfoo=bar\npdf_ocr=true\nprefix=Scan\n");
        // Only a whole file reads back as what is in memory.
        QTest::newRow("no file yet") << QByteArray() << QByteArray(withOcr).replace("quality=80", "quality=10");
    }

    void savingOneKeyLeavesTheRest()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const QByteArray home = QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
        ScopedWorkingDir wd;
        Config config;
        QVERIFY(QFile::remove(wd.file("system.ini")));
        if (!before.isNull())
            writeFile(wd.file("system.ini"), before.replace("HOME", home));
        config.update([](ConfigValues &v) {
            v.imageQuality = 10;
            v.pdfOcr = true;
        });
        QVERIFY(config.saveKeys({config.keyPdfOcr}));
        QCOMPARE(readFile(wd.file("system.ini")), after.replace("HOME", home));
    }

    // Nothing is read or written before main(): a run of this program that
    // never uses the store leaves its working directory empty. The first use
    // reads the working directory of that moment.
    void storeIsMadeOnFirstUse()
    {
        QTemporaryDir empty;
        QProcess child;
        child.setWorkingDirectory(empty.path());
        child.start(QCoreApplication::applicationFilePath(), {"outputSizesInOrder"});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(QDir(empty.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());

        ScopedWorkingDir wd;
        writeFile(wd.file("system.ini"), "[image]\nquality=42\n");
        QCOMPARE(Cache::config->imageQuality, 42);
    }

    void saveKeepsModeAndWritesThroughLinks_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("expected");
        QTest::newRow("shared 0644 file") << "" << 0644 << 022 << 0644;
        QTest::newRow("private 0600 file") << "" << 0600 << 022 << 0600;
        QTest::newRow("group 0664 file, umask 077") << "" << 0664 << 077 << 0664;
        QTest::newRow("new file, umask 022") << "" << -1 << 022 << 0644;
        QTest::newRow("new file, umask 002") << "" << -1 << 002 << 0664;
        QTest::newRow("link to a 0640 file") << "real/settings.ini" << 0640 << 022 << 0640;
        QTest::newRow("link to nothing yet") << "real/settings.ini" << -1 << 027 << 0640;
    }

    void saveKeepsModeAndWritesThroughLinks()
    {
        QFETCH(QString, link);
        QFETCH(int, mode);
        QFETCH(int, mask);
        QFETCH(int, expected);
        ScopedWorkingDir wd;
        QVERIFY(QDir().mkdir(wd.file("real")));
        const QString file = wd.file(link.isEmpty() ? QStringLiteral("system.ini") : link);
        if (mode >= 0) {
            writeFile(file, "[image]\nquality=42\n");
            QCOMPARE(::chmod(QFile::encodeName(file).constData(), static_cast<mode_t>(mode)), 0);
        }
        if (!link.isEmpty())
            QCOMPARE(::symlink(QFile::encodeName(link).constData(), "system.ini"), 0);

        const mode_t previousMask = ::umask(static_cast<mode_t>(mask));
        g_syncedFolders.clear();
        bool saved = false;
        {
            Config config;
            config.update([](ConfigValues &v) { v.imageQuality = 77; });
            saved = config.save();
        }
        ::umask(previousMask);
        QVERIFY(saved);

        QCOMPARE(QFileInfo(wd.file("system.ini")).isSymLink(), !link.isEmpty());
        QCOMPARE(QString::number(modeOf(file), 8), QString::number(expected, 8));
        QCOMPARE(QSettings(file, QSettings::IniFormat).value("image/quality").toInt(), 77);
        // The folder was synced once the new file stood under its name, nothing else beside it.
        const QFileInfo info(file);
        QVERIFY2(!g_syncedFolders.isEmpty(), "no folder was synced");
        QCOMPARE(g_syncedFolders.last(), info.canonicalPath() + ": " + info.fileName());
        QCOMPARE(QDir(info.absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{info.fileName()});
    }

    void runningNumberNeverGoesNegative_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QList<int>>("taken");
        QTest::addColumn<int>("next");
        QTest::newRow("ordinary") << 7 << QList<int>{7, 8, 9} << 10;
        QTest::newRow("zero from an empty file") << 0 << QList<int>{0, 1, 2} << 3;
        QTest::newRow("largest") << INT_MAX << QList<int>{INT_MAX, 1, 2} << 3;
        QTest::newRow("negative") << -5 << QList<int>{1, 2, 3} << 4;
    }

    void runningNumberNeverGoesNegative()
    {
        QFETCH(int, stored);
        QFETCH(QList<int>, taken);
        QFETCH(int, next);
        ScopedWorkingDir wd;
        Config config;
        config.update([stored](ConfigValues &v) { v.saveNumber = stored; });
        QList<int> got;
        for (int i = 0; i < taken.size(); ++i)
            got << config.takeNextNumber();
        QCOMPARE(got, taken);
        QCOMPARE(config.snapshot().saveNumber, next);
    }

    void runningNumberIsTakenOnceByEachThread()
    {
        ScopedWorkingDir wd;
        Config config;
        config.update([](ConfigValues &v) { v.saveNumber = 100; });
        constexpr int kPerThread = 5000;
        QVector<int> a, b;
        auto take = [&config](QVector<int> &got) {
            for (int i = 0; i < kPerThread; ++i)
                got << config.takeNextNumber();
        };
        std::thread ta(take, std::ref(a));
        std::thread tb(take, std::ref(b));
        ta.join();
        tb.join();
        QVector<int> all = a + b;
        std::sort(all.begin(), all.end());
        QCOMPARE(std::adjacent_find(all.begin(), all.end()), all.end());
        QCOMPARE(all.first(), 100);
        QCOMPARE(all.last(), 100 + 2 * kPerThread - 1);
        QCOMPARE(config.snapshot().saveNumber, 100 + 2 * kPerThread);
    }

    void outputSizesInOrder()
    {
        const QList<QSize> sizes = standardOutputSizes();
        QCOMPARE(sizes.size(), 12);
        QCOMPARE(sizes.first(), QSize(4640, 3452));
        QCOMPARE(sizes.at(kFactoryOutResolution), QSize(3264, 2448));
        QCOMPARE(sizes.at(5), QSize(2048, 1536));
        QCOMPARE(sizes.last(), QSize(640, 480));
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "test_config.moc"
