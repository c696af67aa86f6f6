#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The video chunks ("00dc") of an AVI file in file order, read by walking its
// RIFF lists, without any decoder: an empty chunk is a frame that repeats the
// one before. A file cut short (no index) is read up to its last whole chunk.
QList<QByteArray> aviVideoChunks(const QString &path);
