#include "mainwindow/shuttersound.h"

#include <QAudioDeviceInfo>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

ShutterSound::ShutterSound(const QString &wavFile, QObject *parent) : QObject(parent), m_file(wavFile) {}

void ShutterSound::play()
{
    ++m_playCount;
    // Made on first use: a window that never takes a photograph never touches
    // the sound system. QSoundEffect loads its sample on threads of its own,
    // through the network stack; with no output device it is not worth it.
    if (!m_effect) {
        if (!QFileInfo::exists(m_file) || QAudioDeviceInfo::defaultOutputDevice().isNull())
            return;
        m_effect = new QSoundEffect(this);
        m_effect->setSource(QUrl::fromLocalFile(m_file));
    }
    m_effect->play();
}
