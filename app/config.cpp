#include "app/config.h"

#include "app/logging.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>

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

// The section/key names an INI text has lines for. QSettings reads its own
// cache, not the disk, so this parses the bytes itself.
QSet<QString> keysIn(const QByteArray &ini)
{
    QSet<QString> present;
    QString section;
    for (const QByteArray &raw : ini.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            section = line.mid(1, line.size() - 2);
        else if (line.contains(QLatin1Char('=')))
            present.insert(section + QLatin1Char('/') + line.left(line.indexOf(QLatin1Char('='))).trimmed());
    }
    return present;
}

// True when the INI text ends with a complete line and has a line for every key.
bool holdsEveryKey(const QByteArray &ini, const QSet<QString> &keys)
{
    return ini.endsWith('\n') && keysIn(ini).contains(keys);
}

template <typename... Visitors>
struct Overloaded : Visitors... {
    using Visitors::operator()...;
};
template <typename... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

// Whether each kind of member takes each kind of factory value.
constexpr bool factoryFits(const SettingRow &row)
{
    switch (row.member.index()) {
    case 0: // int
        return std::holds_alternative<int>(row.factory);
    case 1: // bool
        return std::holds_alternative<bool>(row.factory);
    case 2: // QString
        return std::holds_alternative<const char *>(row.factory) ||
               std::holds_alternative<HomeWorkDirectory>(row.factory);
    default: // optional<bool>
        return std::holds_alternative<std::nullopt_t>(row.factory);
    }
}

constexpr bool everyFactoryFits()
{
    for (const SettingRow &row : kSettings) {
        if (!factoryFits(row))
            return false;
    }
    return true;
}
static_assert(everyFactoryFits(), "a factory value does not suit its member");

constexpr bool sameText(const char *a, const char *b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

constexpr bool eachSettingOnce()
{
    constexpr size_t count = sizeof kSettings / sizeof kSettings[0];
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = i + 1; j < count; ++j) {
            if (sameText(kSettings[i].key, kSettings[j].key) || kSettings[i].member == kSettings[j].member)
                return false;
        }
    }
    return true;
}
static_assert(eachSettingOnce(), "two settings share a key or a member");

void applyFactory(const SettingRow &row, ConfigValues &v)
{
    std::visit(Overloaded{
                   [&](int ConfigValues::*m) { v.*m = std::get<int>(row.factory); },
                   [&](bool ConfigValues::*m) { v.*m = std::get<bool>(row.factory); },
                   [&](QString ConfigValues::*m) {
                       v.*m = std::holds_alternative<HomeWorkDirectory>(row.factory)
                                  ? Config::defaultWorkDirectory()
                                  : QString::fromUtf8(std::get<const char *>(row.factory));
                   },
                   [&](std::optional<bool> ConfigValues::*m) { (v.*m).reset(); },
               },
               row.member);
}

void readSetting(const QSettings &s, const SettingRow &row, ConfigValues &v)
{
    const QString key = QString::fromLatin1(row.key);
    std::visit(Overloaded{
                   [&](int ConfigValues::*m) { v.*m = readInt(s, key); },
                   [&](bool ConfigValues::*m) { v.*m = readBool(s, key); },
                   [&](QString ConfigValues::*m) { v.*m = readString(s, key); },
                   [&](std::optional<bool> ConfigValues::*m) {
                       v.*m = s.contains(key) ? std::optional<bool>(readBool(s, key)) : std::nullopt;
                   },
               },
               row.member);
}

// The value the file holds for a setting; nothing when it stays out of the file.
std::optional<QVariant> storedValue(const SettingRow &row, const ConfigValues &v)
{
    return std::visit(Overloaded{
                          [&](int ConfigValues::*m) { return std::optional<QVariant>(v.*m); },
                          [&](bool ConfigValues::*m) { return std::optional<QVariant>(v.*m); },
                          [&](QString ConfigValues::*m) { return std::optional<QVariant>(v.*m); },
                          [&](std::optional<bool> ConfigValues::*m) {
                              return v.*m ? std::optional<QVariant>(*(v.*m)) : std::nullopt;
                          },
                      },
                      row.member);
}

const SettingRow *findSetting(const QString &key)
{
    for (const SettingRow &row : kSettings) {
        if (key == QLatin1String(row.key))
            return &row;
    }
    return nullptr;
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

ConfigValues factorySettings()
{
    ConfigValues v;
    for (const SettingRow &row : kSettings)
        applyFactory(row, v);
    return v;
}

Config::Config()
{
    static_cast<ConfigValues &>(*this) = factorySettings();
    load();
}

void Config::init()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const SettingRow &row : kSettings) {
        if (row.onReset == OnReset::Restore)
            applyFactory(row, *this);
    }
}

void Config::load()
{
    if (!QFileInfo::exists(fileName)) {
        init();
        save();
    } else {
        const QSettings s(fileName, QSettings::IniFormat);
        ConfigValues read;
        for (const SettingRow &row : kSettings)
            readSetting(s, row, read);
        update([&read](ConfigValues &v) { v = read; });
    }
    // An empty name is left alone here: it is resolved to the default where files are written.
    if (!userDocumentsLocation.isEmpty() && !QDir(userDocumentsLocation).exists())
        QDir().mkpath(userDocumentsLocation);
}

bool Config::save()
{
    const ConfigValues v = snapshot();
    Values values;
    for (const SettingRow &row : kSettings) {
        if (const std::optional<QVariant> value = storedValue(row, v))
            values.append({QString::fromLatin1(row.key), *value});
    }
    return writeFile(values, {}, false);
}

bool Config::saveKeys(const QStringList &keys)
{
    const QString target = linkTarget(fileName);
    // Without a file there are no other lines to keep, and a file with only
    // these keys would read as zeros everywhere else.
    if (target.isEmpty() || !QFileInfo::exists(target))
        return save();
    const ConfigValues v = snapshot();
    Values values;
    QStringList removed;
    for (const QString &key : keys) {
        const SettingRow *row = findSetting(key);
        if (!row) {
            qCDebug(lcSettings) << "not a setting:" << key;
            return false;
        }
        if (const std::optional<QVariant> value = storedValue(*row, v))
            values.append({key, *value});
        else
            removed << key;
    }
    return writeFile(values, removed, true);
}

bool Config::writeFile(const Values &values, const QStringList &removed, bool keepOthers)
{
    // QSettings does not notice a short write (a full disk leaves a truncated
    // file and reports success), so it writes a temporary file that is read
    // back and checked before it replaces the settings file in one rename.
    // A link is written through to its target, whose mode the new file keeps.
    const QString target = linkTarget(fileName);
    if (target.isEmpty()) {
        qCDebug(lcSettings) << "could not write" << fileName << "(its symbolic links form a loop)";
        return false;
    }
    QSet<QString> required;
    QByteArray kept;
    if (keepOthers) {
        QFile current(target);
        if (!current.open(QIODevice::ReadOnly)) {
            qCDebug(lcSettings) << "could not read" << target;
            return false;
        }
        kept = current.readAll();
        // The settings that are there now must still be there afterwards.
        const QSettings before(target, QSettings::IniFormat);
        for (const SettingRow &row : kSettings) {
            const QString key = QString::fromLatin1(row.key);
            if (before.contains(key) && !removed.contains(key))
                required.insert(key);
        }
    }
    for (const auto &kv : values)
        required.insert(kv.first);

    const QString tempPath = createSibling(target);
    if (tempPath.isEmpty()) {
        qCDebug(lcSettings) << "could not write" << target;
        return false;
    }
    const int existingMode = fileMode(target);
    const int mode = existingMode >= 0 ? existingMode : fileMode(tempPath);
    const QByteArray nativeTemp = QFile::encodeName(tempPath);
    const auto fail = [&](const char *why) {
        ::unlink(nativeTemp.constData());
        qCDebug(lcSettings) << "could not write" << target << why;
        return false;
    };
    if (!kept.isEmpty()) {
        QFile copy(tempPath);
        if (!copy.open(QIODevice::WriteOnly) || copy.write(kept) != kept.size() || !copy.flush())
            return fail("(the current settings could not be copied)");
    }
    {
        QSettings s(tempPath, QSettings::IniFormat);
        for (const QString &key : removed)
            s.remove(key);
        for (const auto &kv : values)
            s.setValue(kv.first, kv.second);
        s.sync();
        if (s.status() != QSettings::NoError)
            return fail("");
    }
    QFile written(tempPath);
    if (!written.open(QIODevice::ReadOnly) || !holdsEveryKey(written.readAll(), required))
        return fail("(the file came out incomplete)");
    written.close();
    if (mode < 0 || ::chmod(nativeTemp.constData(), static_cast<mode_t>(mode)) != 0 || !flushToDisk(tempPath))
        return fail("(the file could not be synced)");
    if (std::rename(nativeTemp.constData(), QFile::encodeName(target).constData()) != 0)
        return fail("(the file could not be replaced)");
    // The rename itself lives in the folder: sync it too, or a crash can bring back the old file.
    if (!flushToDisk(QFileInfo(target).absolutePath()))
        qCDebug(lcSettings) << "could not sync the folder of" << target;
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
