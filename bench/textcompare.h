#pragma once

#include <QString>

// Character error rate in percent: the edit distance between the printed
// and the recognised text over the printed text's length, whitespace
// dropped and full-width forms read as their ASCII twins.
double characterErrorPercent(const QString &reference, const QString &recognised);
