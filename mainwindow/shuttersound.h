#pragma once

#include <QObject>
#include <QString>

class QSoundEffect;

// The short click played for each photograph. A machine without a sound
// device simply stays silent: nothing here ever reports an error to the user.
class ShutterSound : public QObject {
    Q_OBJECT

public:
    explicit ShutterSound(const QString &wavFile, QObject *parent = nullptr);

    void play();
    // How often play() was asked for; the sound itself may not be audible.
    int playCount() const { return m_playCount; }
    QString source() const { return m_file; }

private:
    QString m_file;
    QSoundEffect *m_effect = nullptr;
    int m_playCount = 0;
};
