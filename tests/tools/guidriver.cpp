// Preloaded into the real program by whole-program tests: presses the buttons
// a test names, by object name, as lines "click <objectName>" appended to the
// file in $VORLANT_GUI_COMMANDS.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>

namespace {

constexpr int kPollMs = 100;

void startDriver()
{
    const QString path = qEnvironmentVariable("VORLANT_GUI_COMMANDS");
    if (path.isEmpty())
        return;
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, [path, done = qint64(0)]() mutable {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(done))
            return;
        for (QByteArray line = file.readLine(); line.endsWith('\n'); line = file.readLine()) {
            done += line.size();
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.size() != 2 || words.at(0) != "click")
                continue;
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *button = top->findChild<QAbstractButton *>(QString::fromUtf8(words.at(1))))
                    button->click();
        }
    });
    timer->start(kPollMs);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
