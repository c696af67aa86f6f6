#include "app/config.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

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
    QMutexLocker lock(&m_mutex);
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
}

void Config::load()
{
    if (!QFileInfo::exists(fileName)) {
        init();
        save();
    } else {
        QSettings s(fileName, QSettings::IniFormat);
        QMutexLocker lock(&m_mutex);
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
    }
    // An empty name is left alone here: it is resolved to the default where files are written.
    if (!userDocumentsLocation.isEmpty() && !QDir(userDocumentsLocation).exists())
        QDir().mkpath(userDocumentsLocation);
}

bool Config::save()
{
    const ConfigValues v = snapshot();
    QSettings s(fileName, QSettings::IniFormat);
    s.setValue(keyCameraIndex, v.cameraIndex);
    s.setValue(keyCameraExposure, v.cameraExposure);
    s.setValue(keyImageFourcc, v.imageFourcc);
    s.setValue(keyImageResolution, v.imageResolution);
    s.setValue(keyImageOutResolution, v.imageOutResolution);
    s.setValue(keyImageCodec, v.imageCodec);
    s.setValue(keyImageShootingTime, v.imageShootingTime);
    s.setValue(keyImageQuality, v.imageQuality);
    s.setValue(keySaveType, v.saveType);
    s.setValue(keySavePrefix, v.savePrefix);
    s.setValue(keySaveNumber, v.saveNumber);
    s.setValue(keySavePlaysound, v.savePlaysound);
    s.setValue(keySaveMergeSource, v.saveMergeSource);
    s.setValue(keySavePdfSource, v.savePdfSource);
    s.setValue(keyWatermarkText, v.watermarkText);
    s.setValue(keyWatermarkTime, v.watermarkTime);
    s.setValue(keyWatermarkColor, v.watermarkColor);
    s.setValue(keyWatermarkFontFamily, v.watermarkFontFamily);
    s.setValue(keyWatermarkFontSize, v.watermarkFontSize);
    s.setValue(keyWatermarkFontStyleName, v.watermarkFontStyleName);
    s.setValue(keyWatermarkStrikeOut, v.watermarkStrikeOut);
    s.setValue(keyWatermarkUnderline, v.watermarkUnderline);
    s.setValue(keyWatermarkTransparency, v.watermarkTransparency);
    s.setValue(keyWatermarkX, v.watermarkX);
    s.setValue(keyWatermarkY, v.watermarkY);
    s.setValue(keyPaintingPercentage, v.paintingPercentage);
    s.setValue(keyPaintingMainResolution, v.paintingMainResolution);
    s.setValue(keyPaintingOtherResolution, v.paintingOtherResolution);
    s.setValue(keyUserDocumentsLocation, v.userDocumentsLocation);
    // QSettings replaces the file through a temporary file and a rename.
    s.sync();
    if (s.status() != QSettings::NoError) {
        qDebug() << "could not write" << QFileInfo(fileName).absoluteFilePath();
        return false;
    }
    return true;
}

ConfigValues Config::snapshot() const
{
    QMutexLocker lock(&m_mutex);
    return static_cast<const ConfigValues &>(*this);
}

void Config::update(const std::function<void(ConfigValues &)> &edit)
{
    QMutexLocker lock(&m_mutex);
    edit(*this);
}

int Config::takeNextNumber()
{
    QMutexLocker lock(&m_mutex);
    return saveNumber++;
}
