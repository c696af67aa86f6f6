#include "engine/ocrlines.h"

#include <algorithm>

namespace {

bool isWide(QChar c)
{
    return c.unicode() >= 0x2e80; // CJK radicals onwards, including full-width forms
}

} // namespace

QByteArray formatOcrLines(const QList<OcrLine> &lines)
{
    QByteArray out;
    for (const OcrLine &line : lines) {
        QString text = line.text;
        text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\t'), QLatin1Char(' '));
        out += QStringLiteral("%1 %2 %3 %4\t%5\n")
                   .arg(line.box.x())
                   .arg(line.box.y())
                   .arg(line.box.width())
                   .arg(line.box.height())
                   .arg(text)
                   .toUtf8();
    }
    return out;
}

bool parseOcrLines(const QByteArray &data, QList<OcrLine> *lines)
{
    lines->clear();
    if (data.isEmpty())
        return true;
    if (!data.endsWith('\n'))
        return false;
    const QList<QByteArray> rows = data.left(data.size() - 1).split('\n');
    for (const QByteArray &row : rows) {
        const int tab = row.indexOf('\t');
        if (tab < 0)
            return false;
        const QList<QByteArray> numbers = row.left(tab).split(' ');
        if (numbers.size() != 4)
            return false;
        int v[4];
        for (int i = 0; i < 4; ++i) {
            bool ok = false;
            v[i] = numbers[i].toInt(&ok);
            if (!ok)
                return false;
        }
        if (v[2] <= 0 || v[3] <= 0)
            return false;
        lines->append({QRect(v[0], v[1], v[2], v[3]), QString::fromUtf8(row.mid(tab + 1))});
    }
    return true;
}

QString tidyRecognisedSpacing(const QString &text)
{
    const QString trimmed = text.simplified();
    QString out;
    for (int i = 0; i < trimmed.size(); ++i) {
        const QChar c = trimmed[i];
        if (c == QLatin1Char(' ') && i > 0 && i + 1 < trimmed.size() && (isWide(trimmed[i - 1]) || isWide(trimmed[i + 1])))
            continue;
        out += c;
    }
    return out;
}

std::vector<int> editsToEachStart(const QString &a, const QString &b)
{
    std::vector<int> row(static_cast<size_t>(b.size()) + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row;
}
