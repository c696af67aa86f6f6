#include "app/config.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QSet>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
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

// Makes sure a file's bytes, or a folder's entries, are on disk.
bool flushToDisk(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a folder; that is no failure of the save.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

// More links than this in a row is a loop.
constexpr int kMaxLinkHops = 40;

// The file a save replaces: the end of the chain when the settings file is a
// symbolic link (which then stays a link), else the settings file itself.
// Empty when the chain does not end.
QString linkTarget(const QString &name)
{
    QFileInfo info(name);
    for (int hop = 0; info.isSymLink(); ++hop) {
        if (hop == kMaxLinkHops)
            return {};
        info = QFileInfo(info.symLinkTarget());
    }
    return info.absoluteFilePath();
}

// Creates an empty file beside `target` under a fresh name, with the mode a
// new file gets here (0666 less the umask). Returns its name, or empty.
QString createSibling(const QString &target)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = QStringLiteral("%1.%2").arg(target).arg(QRandomGenerator::global()->generate(), 8, 16,
                                                                        QLatin1Char('0'));
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            return {};
    }
    return {};
}

// The permission bits of an existing file, or -1.
int fileMode(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
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
    saveNumber = kFirstNumber;
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
    }
    // An empty name is left alone here: it is resolved to the default where files are written.
    if (!userDocumentsLocation.isEmpty() && !QDir(userDocumentsLocation).exists())
        QDir().mkpath(userDocumentsLocation);
}

bool Config::save()
{
    const ConfigValues v = snapshot();
    const QList<QPair<QString, QVariant>> values = {
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

    // QSettings does not notice a short write (a full disk leaves a truncated
    // file and reports success), so it writes a temporary file that is read
    // back and checked before it replaces the settings file in one rename.
    // A link is written through to its target, whose mode the new file keeps.
    const QString target = linkTarget(fileName);
    if (target.isEmpty()) {
        qDebug() << "could not write" << fileName << "(its symbolic links form a loop)";
        return false;
    }
    const QString tempPath = createSibling(target);
    if (tempPath.isEmpty()) {
        qDebug() << "could not write" << target;
        return false;
    }
    const int existingMode = fileMode(target);
    const int mode = existingMode >= 0 ? existingMode : fileMode(tempPath);
    const QByteArray nativeTemp = QFile::encodeName(tempPath);
    const auto fail = [&](const char *why) {
        ::unlink(nativeTemp.constData());
        qDebug() << "could not write" << target << why;
        return false;
    };
    {
        QSettings s(tempPath, QSettings::IniFormat);
        for (const auto &kv : values)
            s.setValue(kv.first, kv.second);
        s.sync();
        if (s.status() != QSettings::NoError)
            return fail("");
    }
    QFile written(tempPath);
    if (!written.open(QIODevice::ReadOnly) || !holdsEveryKey(written.readAll(), values))
        return fail("(the file came out incomplete)");
    written.close();
    if (mode < 0 || ::chmod(nativeTemp.constData(), static_cast<mode_t>(mode)) != 0 || !flushToDisk(tempPath))
        return fail("(the file could not be synced)");
    if (std::rename(nativeTemp.constData(), QFile::encodeName(target).constData()) != 0)
        return fail("(the file could not be replaced)");
    // The rename itself lives in the folder: sync it too, or a crash can bring back the old file.
    if (!flushToDisk(QFileInfo(target).absolutePath()))
        qDebug() << "could not sync the folder of" << target;
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
    // Past the largest number (or from a negative one) numbering starts again
    // at the first; names already taken are skipped by whoever writes the file.
    const int number = saveNumber < 0 ? kFirstNumber : saveNumber;
    saveNumber = number == INT_MAX ? kFirstNumber : number + 1;
    return number;
}
