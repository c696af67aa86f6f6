#include "support/avichunks.h"

#include <QFile>
#include <QtEndian>

namespace {

constexpr int kHeaderBytes = 8;

void walk(const QByteArray &file, qint64 begin, qint64 end, QList<QByteArray> &chunks)
{
    qint64 at = begin;
    while (at + kHeaderBytes <= end) {
        const QByteArray id = file.mid(at, 4);
        const qint64 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
        const qint64 body = at + kHeaderBytes;
        if (id == "RIFF" || id == "LIST") {
            // A list never closed (size 0, a file cut short) runs to the end of the one around it.
            const qint64 listEnd = size == 0 || body + size > end ? end : body + size;
            walk(file, body + 4, listEnd, chunks);
            if (listEnd == end)
                return;
        } else if (id == "00dc") {
            if (body + size > end)
                return;
            chunks << file.mid(body, size);
        }
        at = body + size + (size & 1);
    }
}

} // namespace

QList<QByteArray> aviVideoChunks(const QString &path)
{
    QFile file(path);
    QList<QByteArray> chunks;
    if (!file.open(QIODevice::ReadOnly))
        return chunks;
    const QByteArray bytes = file.readAll();
    walk(bytes, 0, bytes.size(), chunks);
    return chunks;
}
