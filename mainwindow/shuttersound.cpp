#include "mainwindow/shuttersound.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

ShutterSound::ShutterSound(const QString &wavFile, QObject *parent) : QObject(parent), m_file(wavFile) {}

void ShutterSound::play()
{
    ++m_playCount;
    // Made on first use: a window that never takes a photograph never touches the sound system.
    if (!m_effect) {
        if (!QFileInfo::exists(m_file))
            return;
        m_effect = new QSoundEffect(this);
        m_effect->setSource(QUrl::fromLocalFile(m_file));
    }
    m_effect->play();
}
