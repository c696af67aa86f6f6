#include "scenes/hugepng.h"

#include <QFile>
#include <QtEndian>

#include <zlib.h>

#include <vector>

namespace {

void chunk(QFile &file, const char *type, const QByteArray &data)
{
    QByteArray length(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), length.data());
    const QByteArray body = QByteArray(type, 4) + data;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))),
                          crc.data());
    file.write(length + body + crc);
}

} // namespace

bool writeHugePng(const QString &path, QSize size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("\x89PNG\r\n\x1a\n", 8);
    QByteArray header(13, '\0');
    qToBigEndian<quint32>(quint32(size.width()), header.data());
    qToBigEndian<quint32>(quint32(size.height()), header.data() + 4);
    header[8] = 8; // bits per index
    header[9] = 3; // palette colour
    chunk(file, "IHDR", header);
    chunk(file, "PLTE", QByteArray("\xff\x00\x00\x00\x00\xff", 6));

    // Each row: filter byte 0, then index 0; run-length deflate keeps this quick.
    z_stream zs{};
    deflateInit2(&zs, 1, Z_DEFLATED, 15, 8, Z_RLE);
    std::vector<Bytef> row(size_t(size.width()) + 1, 0);
    std::vector<Bytef> out(1 << 20);
    QByteArray data;
    for (int y = 0; y <= size.height(); ++y) {
        const bool last = y == size.height();
        zs.next_in = row.data();
        zs.avail_in = last ? 0 : uInt(row.size());
        do {
            zs.next_out = out.data();
            zs.avail_out = uInt(out.size());
            deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
            data.append(reinterpret_cast<const char *>(out.data()), int(out.size() - zs.avail_out));
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    chunk(file, "IDAT", data);
    chunk(file, "IEND", {});
    return file.flush();
}
