#include "support/avifile.h"

#include <QFile>
#include <QtEndian>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

AviLayout readAviLayout(const QString &path)
{
    AviLayout layout;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return layout;
    const QByteArray bytes = file.readAll();
    const auto word = [&](qint64 at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "AVI ")
        return layout;
    layout.closed = qint64(word(4)) + 8 == bytes.size();
    for (qint64 at = 12; at + 8 <= bytes.size();) {
        const qint64 size = word(at + 4);
        if (bytes.mid(int(at), 4) == "idx1")
            layout.indexEntries = int(size / 16);
        at += 8 + size + (size & 1);
    }
    cv::VideoCapture video(QFile::encodeName(path).toStdString());
    cv::Mat frame;
    while (video.isOpened() && video.read(frame) && !frame.empty()) {
        ++layout.playedFrames;
        cv::Mat grey;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        layout.lastBrightness = cv::mean(grey)[0];
    }
    return layout;
}
