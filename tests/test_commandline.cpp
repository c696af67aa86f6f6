// The real program's command line: help and version need no display,
// mistakes are refused with a hint, and --camera-files wins over the variable.
#include "support/workingdir.h"
#include "support/xvfbserver.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); // on standard output, or error when refused; the other stays empty
        const QString version = QStringLiteral("^vorlant %1\\n$").arg(QRegularExpression::escape(VORLANT_VERSION));
        const QString english = QStringLiteral("(?s)^Usage: \\S*vorlant \\[options\\].*--version"
                                               ".*--camera-files <files>.*VORLANT_CAMERA_FILES");
        const QString chinese = QStringLiteral("用冒号分隔的媒体文件");
        auto row = [](const char *name, const QStringList &arguments, const char *lang, int exitCode,
                      const QString &said) { QTest::newRow(name) << arguments << QString(lang) << exitCode << said; };
        row("version", {"--version"}, "C", 0, version);
        row("short version", {"-v"}, "en_US.UTF-8", 0, version);
        row("help in English", {"--help"}, "en_US.UTF-8", 0, english);
        row("help in Chinese", {"-h"}, "zh_CN.UTF-8", 0, "(?s)" + chinese + ".*VORLANT_CAMERA_FILES");
        row("help without a translation", {"--help"}, "de_DE.UTF-8", 0, chinese);
        row("help despite a mistake", {"--bogus", "--help"}, "en_US.UTF-8", 0, english);
        row("unknown option", {"--bogus"}, "en_US.UTF-8", 1, "vorlant: Unknown option 'bogus'.\\nType vorlant --help");
        row("stray argument", {"photo.jpg"}, "en_US.UTF-8", 1, "vorlant: Unexpected arguments: photo.jpg\\n");
        row("option without its list", {"--camera-files"}, "en_US.UTF-8", 1, "Missing value after '--camera-files'");
    }
    void answers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, lang);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        // As on a console without any display; the language from LANG alone.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("LANG"), lang);
        // A mistake is told on the console even where a window could open.
        if (exitCode != 0)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess vorlant;
        vorlant.setProcessEnvironment(env);
        vorlant.start(qEnvironmentVariable("VORLANT_BINARY"), arguments);
        QVERIFY(vorlant.waitForFinished(30000));
        const QString out = QString::fromUtf8(vorlant.readAllStandardOutput());
        const QString err = QString::fromUtf8(vorlant.readAllStandardError());
        QVERIFY2(vorlant.exitStatus() == QProcess::NormalExit, qPrintable(err));
        QCOMPARE(vorlant.exitCode(), exitCode);
        QVERIFY2(QRegularExpression(said).match(exitCode == 0 ? out : err).hasMatch(), qPrintable(out + err));
        QVERIFY2((exitCode == 0 ? err : out).isEmpty(), qPrintable(out + err));
        if (lang.startsWith(QLatin1String("en")))
            QVERIFY2(!(out + err).contains(QRegularExpression(QStringLiteral("\\p{Han}"))), qPrintable(out + err));
    }

    // The option names the demo scene while the variable names a missing
    // file: the main window opens, not the "no camera" warning.
    void cameraFilesWinOverVariable()
    {
        XvfbServer x;
        if (!x.isRunning())
            QSKIP("Xvfb is not installed");
        const QString demo = qEnvironmentVariable("VORLANT_DEMO_SCENE");
        QVERIFY(QFile::exists(demo));
        ScopedWorkingDir wd;
        QProcessEnvironment env = x.environment();
        env.insert(QStringLiteral("VORLANT_CAMERA_FILES"), wd.file("missing.avi"));
        env.insert(QStringLiteral("HOME"), wd.path());
        QProcess vorlant;
        vorlant.setProcessEnvironment(env);
        vorlant.setWorkingDirectory(wd.path());
        vorlant.start(qEnvironmentVariable("VORLANT_BINARY"), {"--camera-files", demo});
        QVERIFY(vorlant.waitForStarted());
        const QString warning = QStringLiteral("^(警告|Warning)$");
        QTRY_VERIFY_WITH_TIMEOUT(!x.findWindows("^vorlant$").isEmpty() || !x.findWindows(warning).isEmpty() ||
                                     vorlant.state() == QProcess::NotRunning,
                                 40000);
        const bool warned = !x.findWindows(warning).isEmpty();
        const bool running = vorlant.state() == QProcess::Running;
        vorlant.kill();
        vorlant.waitForFinished();
        QVERIFY2(running && !warned, vorlant.readAll().constData());
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_commandline.moc"
