#include "textcompare.h"

#include "engine/ocrlines.h"

namespace {

QString comparable(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c.isSpace())
            continue;
        const ushort u = c.unicode();
        if (u >= 0xff01 && u <= 0xff5e)
            c = QChar(u - 0xfee0);
        else if (u == 0x3002 || u == 0x00b7)
            c = QLatin1Char('.'); // a full stop centred on its line, as Ming faces set it, reads as a middle dot
        else if (u == 0x3001)
            c = QLatin1Char(',');
        else if (u == 0x201c || u == 0x201d)
            c = QLatin1Char('"');
        else if (u == 0x2018 || u == 0x2019)
            c = QLatin1Char('\'');
        out += c;
    }
    return out;
}

} // namespace

double characterErrorPercent(const QString &reference, const QString &recognised)
{
    const QString r = comparable(reference);
    return r.isEmpty() ? 0.0 : 100.0 * editsToEachStart(r, comparable(recognised)).back() / r.size();
}
