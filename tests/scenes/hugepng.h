#pragma once

#include <QSize>
#include <QString>

// Writes a valid 8-bit palette PNG of `size`, every pixel red: a few MB on
// disk for a picture of hundreds of megapixels, as a hostile or careless file
// would be. False when it could not be written.
bool writeHugePng(const QString &path, QSize size);
