// The real program's command line: help and version need no display,
// mistakes are refused with a hint, and --camera-files wins over the variable.
#include "support/workingdir.h"
#include "support/xvfbserver.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

namespace {

struct Run {
    bool exited = false;
    int exitCode = -1;
    QString out;
    QString err;
};

Run runProgram(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess vorlant;
    vorlant.setProcessEnvironment(env);
    vorlant.start(qEnvironmentVariable("VORLANT_BINARY"), arguments);
    Run run;
    if (!vorlant.waitForFinished(30000)) {
        vorlant.kill();
        vorlant.waitForFinished();
        return run;
    }
    run.exited = vorlant.exitStatus() == QProcess::NormalExit;
    run.exitCode = vorlant.exitCode();
    run.out = QString::fromUtf8(vorlant.readAllStandardOutput());
    run.err = QString::fromUtf8(vorlant.readAllStandardError());
    return run;
}

// As on a console without any display; the language from LANG alone.
QProcessEnvironment console(const QString &lang)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL", "LC_MESSAGES"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LANG"), lang);
    return env;
}

bool hasHan(const QString &text)
{
    return text.contains(QRegularExpression(QStringLiteral("\\p{Han}")));
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString version = QStringLiteral("^vorlant %1\\n$").arg(QRegularExpression::escape(VORLANT_VERSION));
        const QString english = QStringLiteral("(?s)^Usage: \\S*vorlant \\[options\\].*--version"
                                               ".*--camera-files <files>.*VORLANT_CAMERA_FILES");
        QTest::newRow("version") << QStringList{"--version"} << "C"
                                 << "" << 0 << version << "^$";
        QTest::newRow("short version") << QStringList{"-v"} << "en_US.UTF-8"
                                       << "" << 0 << version << "^$";
        QTest::newRow("help in English") << QStringList{"--help"} << "en_US.UTF-8"
                                         << "" << 0 << english << "^$";
        QTest::newRow("help in Chinese") << QStringList{"-h"} << "zh_CN.UTF-8"
                                         << "" << 0 << "(?s)用冒号分隔的媒体文件.*VORLANT_CAMERA_FILES"
                                         << "^$";
        QTest::newRow("help without a translation") << QStringList{"--help"} << "de_DE.UTF-8"
                                                    << "" << 0 << "用冒号分隔的媒体文件"
                                                    << "^$";
        QTest::newRow("help despite a mistake") << QStringList{"--bogus", "--help"} << "en_US.UTF-8"
                                                << "" << 0 << english << "^$";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "en_US.UTF-8"
                                        << "offscreen" << 1 << "^$"
                                        << "vorlant: Unknown option 'bogus'.\\nType vorlant --help";
        QTest::newRow("stray argument") << QStringList{"photo.jpg"} << "en_US.UTF-8"
                                        << "offscreen" << 1 << "^$"
                                        << "vorlant: Unexpected arguments: photo.jpg\\n";
        QTest::newRow("option without its list") << QStringList{"--camera-files"} << "en_US.UTF-8"
                                                 << "offscreen" << 1 << "^$"
                                                 << "Missing value after '--camera-files'";
    }
    void answers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, lang);
        QFETCH(QString, platform);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcessEnvironment env = console(lang);
        if (!platform.isEmpty())
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        const Run run = runProgram(arguments, env);
        QVERIFY2(run.exited, qPrintable(run.err));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(QRegularExpression(out).match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY2(QRegularExpression(err).match(run.err).hasMatch(), qPrintable(run.err));
        if (lang.startsWith(QLatin1String("en")))
            QVERIFY2(!hasHan(run.out + run.err), qPrintable(run.out + run.err));
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
