#include "textcompare.h"

#include <algorithm>
#include <vector>

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

int editDistance(const QString &a, const QString &b)
{
    std::vector<int> row(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

} // namespace

double characterErrorPercent(const QString &reference, const QString &recognised)
{
    const QString r = comparable(reference);
    return r.isEmpty() ? 0.0 : 100.0 * editDistance(r, comparable(recognised)) / r.size();
}
