// What `cmake --install` puts under a prefix, checked with the desktop's own validators.
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kAppId = QStringLiteral("org.vorlant.Vorlant");

struct Run {
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Run result;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir m_prefix;

    QString installed(const QString &relative) const { return m_prefix.filePath(relative); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_prefix.isValid());
        const Run install =
            run(QStringLiteral("cmake"), {QStringLiteral("--install"), qEnvironmentVariable("VORLANT_BUILD_DIR"),
                                          QStringLiteral("--prefix"), m_prefix.path()});
        QVERIFY2(install.exitCode == 0, qPrintable(install.output));
    }

    void installedFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("pictureSize");
        QTest::newRow("program") << "bin/vorlant" << QSize();
        QTest::newRow("text-recognition worker beside the program") << "bin/vorlant-ocr" << QSize();
        QTest::newRow("logo beside the program") << "bin/Resources/vorlant.png" << QSize(220, 69);
        QTest::newRow("thumbnail placeholder") << "bin/Resources/back/Picture_90.png" << QSize(90, 90);
        QTest::newRow("button icon") << "bin/Resources/icon/icon_snap_32.png" << QSize(32, 32);
        QTest::newRow("shutter sound") << "bin/Resources/shutter.wav" << QSize();
        QTest::newRow("English translation") << "bin/translations/vorlant_en.qm" << QSize();
        QTest::newRow("desktop entry") << "share/applications/" + kAppId + ".desktop" << QSize();
        QTest::newRow("metainfo") << "share/metainfo/" + kAppId + ".metainfo.xml" << QSize();
        QTest::newRow("icon") << "share/icons/hicolor/256x256/apps/" + kAppId + ".png" << QSize(256, 256);
    }

    void installedFile()
    {
        QFETCH(QString, path);
        QFETCH(QSize, pictureSize);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
        if (path.startsWith(QLatin1String("bin/vorlant")))
            QVERIFY(file.isExecutable());
        if (pictureSize.isValid())
            QCOMPARE(QImage(file.filePath()).size(), pictureSize);
    }

    // The installed program finds what lies beside it: here its English
    // translation.
    void commandFindsItsFolder()
    {
        QProcess vorlant;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LANGUAGE"));
        env.remove(QStringLiteral("LC_ALL"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        vorlant.setProcessEnvironment(env);
        vorlant.start(installed(QStringLiteral("bin/vorlant")), {QStringLiteral("--help")});
        QVERIFY(vorlant.waitForFinished(30000));
        QCOMPARE(vorlant.exitCode(), 0);
        const QString help = QString::fromUtf8(vorlant.readAllStandardOutput());
        QVERIFY2(help.contains(QLatin1String("Use media files")), qPrintable(help));
    }

    void validated_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("damage");
        QTest::addColumn<bool>("valid");
        const QString entry = "share/applications/" + kAppId + ".desktop";
        const QString metainfo = "share/metainfo/" + kAppId + ".metainfo.xml";
        QTest::newRow("desktop entry") << "desktop-file-validate" << entry << QByteArray() << true;
        QTest::newRow("metainfo") << "appstreamcli" << metainfo << QByteArray() << true;
        // The validators must be able to fail: a damaged copy is refused.
        QTest::newRow("entry without its type")
            << "desktop-file-validate" << entry << QByteArray("Type=Application\n") << false;
        QTest::newRow("metainfo without its id")
            << "appstreamcli" << metainfo << QByteArray("<id>org.vorlant.Vorlant</id>") << false;
    }

    void validated()
    {
        QFETCH(QString, tool);
        QFETCH(QString, path);
        QFETCH(QByteArray, damage);
        QFETCH(bool, valid);
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("validator not installed");
        QString file = installed(path);
        QTemporaryDir scratch;
        if (!damage.isEmpty()) {
            QFile original(file);
            QVERIFY(original.open(QIODevice::ReadOnly));
            QByteArray text = original.readAll();
            QVERIFY(text.contains(damage));
            text.replace(damage, QByteArray());
            file = scratch.filePath(QFileInfo(file).fileName());
            QFile copy(file);
            QVERIFY(copy.open(QIODevice::WriteOnly));
            copy.write(text);
        }
        const QStringList arguments = tool == QLatin1String("appstreamcli")
                                          ? QStringList{QStringLiteral("validate"), QStringLiteral("--no-net"), file}
                                          : QStringList{file};
        const Run check = run(tool, arguments);
        QVERIFY2((check.exitCode == 0) == valid, qPrintable(check.output));
        // desktop-file-validate passes an entry with mere hints; take none.
        if (valid)
            QVERIFY2(!check.output.contains(QLatin1String("error")), qPrintable(check.output));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
