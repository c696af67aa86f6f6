#include "app/commandline.h"

#include "app/discovery.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstring>

namespace {

const char *const kCameraFilesOption = "camera-files";
const char *const kTextOnlyOptions[] = {"-h", "--help", "--help-all", "-v", "--version"};

} // namespace

bool asksForTextOnly(int argc, const char *const *argv)
{
    const QByteArray cameraFiles = QByteArray("--") + kCameraFilesOption;
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            return false;
        // The option's value is a file list, even when it looks like "--help".
        if (cameraFiles == argument) {
            ++i;
            continue;
        }
        for (const char *option : kTextOnlyOptions)
            if (std::strcmp(argument, option) == 0)
                return true;
    }
    return false;
}

QString versionText()
{
    return QStringLiteral("vorlant %1").arg(QStringLiteral(VORLANT_VERSION));
}

CommandLineRequest parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("CommandLine", "用文档摄像头拍摄文件、录像并生成PDF。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption cameraFiles(
        QString::fromLatin1(kCameraFilesOption),
        QCoreApplication::translate("CommandLine", "用冒号分隔的媒体文件（视频或图片）代替摄像头，每个文件一个摄像头；"
                                                   "优先于环境变量 %1。")
            .arg(QString::fromLatin1(kCameraFilesVariable)),
        QCoreApplication::translate("CommandLine", "文件列表"));
    parser.addOption(cameraFiles);

    const bool parsed = parser.parse(arguments);
    CommandLineRequest request;
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        request.action = CommandLineRequest::Action::Print;
        request.text = parser.helpText();
        return request;
    }
    if (parser.isSet(version)) {
        request.action = CommandLineRequest::Action::Print;
        request.text = versionText() + QLatin1Char('\n');
        return request;
    }
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        request.action = CommandLineRequest::Action::Fail;
        const QString problem = parsed ? QCoreApplication::translate("CommandLine", "多余的参数：%1")
                                             .arg(parser.positionalArguments().join(QLatin1Char(' ')))
                                       : parser.errorText();
        request.text =
            QStringLiteral("vorlant: %1\n%2\n")
                .arg(problem, QCoreApplication::translate("CommandLine", "用 vorlant --help 查看可用的选项。"));
        return request;
    }
    if (parser.isSet(cameraFiles))
        request.cameraFiles = parser.value(cameraFiles);
    return request;
}
