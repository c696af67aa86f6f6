#include "app/config.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QSet>
#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char *const kWorkDirName = "/Tessaran";

int readInt(const QSettings &s, const QString &key)
{
    bool ok = false;
    const int v = s.value(key).toString().trimmed().toInt(&ok);
    return ok ? v : 0;
}

QString readString(const QSettings &s, const QString &key)
{
    const QVariant v = s.value(key);
    // A list (a value with an unquoted comma) is joined back rather than lost.
    if (v.type() == QVariant::StringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

// Only the INI words for booleans (and 1/0) count; any other text is false.
bool readBool(const QSettings &s, const QString &key)
{
    const QString t = s.value(key).toString().trimmed().toLower();
    return t == QLatin1String("true") || t == QLatin1String("1");
}

// True when the INI text ends with a complete line and has a line for every
// key in its section. QSettings reads its own cache, not the disk, so the
// check parses the bytes itself.
bool holdsEveryKey(const QByteArray &ini, const QList<QPair<QString, QVariant>> &values)
{
    if (!ini.endsWith('\n'))
        return false;
    QSet<QString> present;
    QString section;
    for (const QByteArray &raw : ini.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            section = line.mid(1, line.size() - 2);
        else if (line.contains(QLatin1Char('=')))
            present.insert(section + QLatin1Char('/') + line.left(line.indexOf(QLatin1Char('='))).trimmed());
    }
    for (const auto &kv : values)
        if (!present.contains(kv.first))
            return false;
    return true;
}

// Makes sure the bytes are on disk before the rename makes them the settings file.
bool flushToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

QString ConfigValues::workDirectory() const
{
    return userDocumentsLocation.isEmpty() ? Config::defaultWorkDirectory() : userDocumentsLocation;
}

QList<QSize> standardOutputSizes()
{
    return {QSize(4640, 3452), QSize(4416, 3312), QSize(3742, 2806), QSize(3264, 2448),
            QSize(2592, 1944), QSize(2048, 1536), QSize(1920, 1080), QSize(1600, 1200),
            QSize(1280, 960),  QSize(1280, 720),  QSize(800, 600),   QSize(640, 480)};
}

QString Config::defaultWorkDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + QLatin1String(kWorkDirName);
}

Config::Config()
{
    cameraIndex = 0;
    userDocumentsLocation = defaultWorkDirectory();
    load();
}

void Config::init()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    cameraExposure = -3;
    imageFourcc = 0;
    imageResolution = 0;
    imageOutResolution = kFactoryOutResolution;
    imageCodec = QStringLiteral("jpg");
    imageShootingTime = 5;
    imageQuality = 80;
    saveType = 0;
    savePrefix = QStringLiteral("IMG");
    saveNumber = 1;
    savePlaysound = true;
    saveMergeSource = true;
    savePdfSource = true;
    watermarkText.clear();
    watermarkTime = false;
    watermarkColor = QStringLiteral("ff000000");
    watermarkFontFamily = QStringLiteral("Arial");
    watermarkFontSize = 100;
    watermarkFontStyleName = QStringLiteral("Regular");
    watermarkStrikeOut = false;
    watermarkUnderline = false;
    watermarkTransparency = 50;
    watermarkX = 50;
    watermarkY = 50;
    paintingPercentage = 30;
    paintingMainResolution = 5;
    paintingOtherResolution = 5;
    pdfAutoCapture.reset();
    pdfOcr.reset();
}

void Config::load()
{
    if (!QFileInfo::exists(fileName)) {
        init();
        save();
    } else {
        QSettings s(fileName, QSettings::IniFormat);
        std::lock_guard<std::mutex> lock(m_mutex);
        cameraIndex = readInt(s, keyCameraIndex);
        cameraExposure = readInt(s, keyCameraExposure);
        imageFourcc = readInt(s, keyImageFourcc);
        imageResolution = readInt(s, keyImageResolution);
        imageOutResolution = readInt(s, keyImageOutResolution);
        imageCodec = readString(s, keyImageCodec);
        imageShootingTime = readInt(s, keyImageShootingTime);
        imageQuality = readInt(s, keyImageQuality);
        saveType = readInt(s, keySaveType);
        savePrefix = readString(s, keySavePrefix);
        saveNumber = readInt(s, keySaveNumber);
        savePlaysound = readBool(s, keySavePlaysound);
        saveMergeSource = readBool(s, keySaveMergeSource);
        savePdfSource = readBool(s, keySavePdfSource);
        watermarkText = readString(s, keyWatermarkText);
        watermarkTime = readBool(s, keyWatermarkTime);
        watermarkColor = readString(s, keyWatermarkColor);
        watermarkFontFamily = readString(s, keyWatermarkFontFamily);
        watermarkFontSize = readInt(s, keyWatermarkFontSize);
        watermarkFontStyleName = readString(s, keyWatermarkFontStyleName);
        watermarkStrikeOut = readBool(s, keyWatermarkStrikeOut);
        watermarkUnderline = readBool(s, keyWatermarkUnderline);
        watermarkTransparency = readInt(s, keyWatermarkTransparency);
        watermarkX = readInt(s, keyWatermarkX);
        watermarkY = readInt(s, keyWatermarkY);
        paintingPercentage = readInt(s, keyPaintingPercentage);
        paintingMainResolution = readInt(s, keyPaintingMainResolution);
        paintingOtherResolution = readInt(s, keyPaintingOtherResolution);
        userDocumentsLocation = readString(s, keyUserDocumentsLocation);
        pdfAutoCapture = s.contains(keyPdfAutoCapture) ? std::optional<bool>(readBool(s, keyPdfAutoCapture))
                                                       : std::nullopt;
        pdfOcr = s.contains(keyPdfOcr) ? std::optional<bool>(readBool(s, keyPdfOcr)) : std::nullopt;
    }
    // An empty name is left alone here: it is resolved to the default where files are written.
    if (!userDocumentsLocation.isEmpty() && !QDir(userDocumentsLocation).exists())
        QDir().mkpath(userDocumentsLocation);
}

bool Config::save()
{
    const ConfigValues v = snapshot();
    QList<QPair<QString, QVariant>> values = {
        {keyCameraIndex, v.cameraIndex},
        {keyCameraExposure, v.cameraExposure},
        {keyImageFourcc, v.imageFourcc},
        {keyImageResolution, v.imageResolution},
        {keyImageOutResolution, v.imageOutResolution},
        {keyImageCodec, v.imageCodec},
        {keyImageShootingTime, v.imageShootingTime},
        {keyImageQuality, v.imageQuality},
        {keySaveType, v.saveType},
        {keySavePrefix, v.savePrefix},
        {keySaveNumber, v.saveNumber},
        {keySavePlaysound, v.savePlaysound},
        {keySaveMergeSource, v.saveMergeSource},
        {keySavePdfSource, v.savePdfSource},
        {keyWatermarkText, v.watermarkText},
        {keyWatermarkTime, v.watermarkTime},
        {keyWatermarkColor, v.watermarkColor},
        {keyWatermarkFontFamily, v.watermarkFontFamily},
        {keyWatermarkFontSize, v.watermarkFontSize},
        {keyWatermarkFontStyleName, v.watermarkFontStyleName},
        {keyWatermarkStrikeOut, v.watermarkStrikeOut},
        {keyWatermarkUnderline, v.watermarkUnderline},
        {keyWatermarkTransparency, v.watermarkTransparency},
        {keyWatermarkX, v.watermarkX},
        {keyWatermarkY, v.watermarkY},
        {keyPaintingPercentage, v.paintingPercentage},
        {keyPaintingMainResolution, v.paintingMainResolution},
        {keyPaintingOtherResolution, v.paintingOtherResolution},
        {keyUserDocumentsLocation, v.userDocumentsLocation},
    };
    if (v.pdfAutoCapture)
        values.append({keyPdfAutoCapture, *v.pdfAutoCapture});
    if (v.pdfOcr)
        values.append({keyPdfOcr, *v.pdfOcr});

    // QSettings does not notice a short write (a full disk leaves a truncated
    // file and reports success), so it writes a temporary file that is read
    // back and checked before it replaces the settings file in one rename.
    const QFileInfo target(fileName);
    QTemporaryFile temp(target.absoluteFilePath() + QStringLiteral(".XXXXXX"));
    if (!temp.open()) {
        qDebug() << "could not write" << target.absoluteFilePath();
        return false;
    }
    const QString tempPath = temp.fileName();
    temp.close();
    {
        QSettings s(tempPath, QSettings::IniFormat);
        for (const auto &kv : values)
            s.setValue(kv.first, kv.second);
        s.sync();
        if (s.status() != QSettings::NoError) {
            qDebug() << "could not write" << target.absoluteFilePath();
            return false;
        }
    }
    QFile written(tempPath);
    if (!written.open(QIODevice::ReadOnly) || !holdsEveryKey(written.readAll(), values)) {
        qDebug() << "could not write" << target.absoluteFilePath() << "(the file came out incomplete)";
        return false;
    }
    written.close();
    if (!flushToDisk(tempPath) || std::rename(QFile::encodeName(tempPath).constData(),
                                              QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        qDebug() << "could not replace" << target.absoluteFilePath();
        return false;
    }
    temp.setAutoRemove(false);
    return true;
}

ConfigValues Config::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<const ConfigValues &>(*this);
}

void Config::update(const std::function<void(ConfigValues &)> &edit)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    edit(*this);
}

int Config::takeNextNumber()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return saveNumber++;
}
