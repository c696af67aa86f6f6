#pragma once

#include <QFile>
#include <QtEndian>

#include <opencv2/videoio.hpp>

// An AVI file as its own chunks describe it, read without libavformat.
struct AviLayout {
    bool closed = false;  // the RIFF size was filled in when the file was closed
    int indexEntries = 0; // entries of the closing index (idx1, the last chunk)
    int playedFrames = 0; // frames a player decodes, read one by one
};

inline AviLayout readAviLayout(const QString &path)
{
    AviLayout layout;
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "AVI ")
        return layout;
    const auto word = [&](qint64 at) { return qint64(qFromLittleEndian<quint32>(bytes.constData() + at)); };
    layout.closed = word(4) + 8 == bytes.size();
    const int index = bytes.lastIndexOf("idx1");
    layout.indexEntries = index < 0 ? 0 : int(word(index + 4) / 16);
    cv::VideoCapture video(QFile::encodeName(path).toStdString());
    for (cv::Mat frame; video.isOpened() && video.read(frame) && !frame.empty();)
        ++layout.playedFrames;
    return layout;
}
