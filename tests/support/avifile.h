#pragma once

#include <QFile>
#include <QString>
#include <QtEndian>

#include <opencv2/videoio.hpp>

// An AVI file as its own chunks describe it, read without libavformat.
struct AviLayout {
    bool closed = false;  // the RIFF size was filled in when the file was closed
    int indexEntries = 0; // entries of the closing index (idx1)
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
    for (qint64 at = 12; at + 8 <= bytes.size(); at += 8 + word(at + 4) + (word(at + 4) & 1)) {
        if (bytes.mid(int(at), 4) == "idx1")
            layout.indexEntries = int(word(at + 4) / 16);
    }
    cv::VideoCapture video(QFile::encodeName(path).toStdString());
    for (cv::Mat frame; video.isOpened() && video.read(frame) && !frame.empty();)
        ++layout.playedFrames;
    return layout;
}
