#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <mutex>
#include <optional>
#include <variant>

// The persisted settings, as plain values. A copy of this is what one
// photograph or one recording reads, so that it never sees a half-made edit.
struct ConfigValues {
    int cameraIndex = 0;
    int cameraExposure = 0;
    int imageFourcc = 0;
    int imageResolution = 0;
    int imageOutResolution = 0;
    QString imageCodec;
    int imageShootingTime = 0;
    int imageQuality = 0;
    int saveType = 0;
    QString savePrefix;
    int saveNumber = 0;
    bool savePlaysound = false;
    bool saveMergeSource = false;
    bool savePdfSource = false;
    QString watermarkText;
    bool watermarkTime = false;
    QString watermarkColor;
    QString watermarkFontFamily;
    int watermarkFontSize = 0;
    QString watermarkFontStyleName;
    bool watermarkStrikeOut = false;
    bool watermarkUnderline = false;
    int watermarkTransparency = 0;
    int watermarkX = 0;
    int watermarkY = 0;
    int paintingPercentage = 0;
    int paintingMainResolution = 0;
    int paintingOtherResolution = 0;
    QString userDocumentsLocation;
    // The PDF/TIFF dialog's page-turn and text-recognition switches: off, and
    // absent from the file, until the user first changes them.
    std::optional<bool> pdfAutoCapture;
    std::optional<bool> pdfOcr;

    // The directory files are written into: an empty setting never means "/".
    QString workDirectory() const;

    // The running number a fresh start counts from.
    static constexpr int kFirstNumber = 1;
};

// The twelve photograph sizes, in the order the settings index them.
QList<QSize> standardOutputSizes();
// The factory output size, used whenever a stored index is out of range.
constexpr int kFactoryOutResolution = 3;

// Where a setting lives in ConfigValues.
using SettingMember = std::variant<int ConfigValues::*, bool ConfigValues::*, QString ConfigValues::*,
                                   std::optional<bool> ConfigValues::*>;
// The work directory in the user's home, known only at run time.
struct HomeWorkDirectory {};
// A setting's value on a first start and after "默认设置"; std::nullopt: absent from the file.
using SettingFactory = std::variant<int, bool, const char *, std::nullopt_t, HomeWorkDirectory>;
// Whether "默认设置" puts the factory value back or leaves the setting as it is.
enum class OnReset { Restore, Keep };

struct SettingRow {
    const char *key;
    SettingMember member;
    SettingFactory factory;
    OnReset onReset = OnReset::Restore;
};

// Every persisted setting: the one place that names its key and factory value.
inline constexpr SettingRow kSettings[] = {
    {"camera/index", &ConfigValues::cameraIndex, 0, OnReset::Keep},
    {"camera/exposure", &ConfigValues::cameraExposure, -3},
    {"image/fourcc", &ConfigValues::imageFourcc, 0},
    {"image/resolution", &ConfigValues::imageResolution, 0},
    {"image/out_resolution", &ConfigValues::imageOutResolution, kFactoryOutResolution},
    {"image/codec", &ConfigValues::imageCodec, "jpg"},
    {"image/shooting_time", &ConfigValues::imageShootingTime, 5},
    {"image/quality", &ConfigValues::imageQuality, 80},
    {"save/type", &ConfigValues::saveType, 0},
    {"save/prefix", &ConfigValues::savePrefix, "IMG"},
    {"save/number", &ConfigValues::saveNumber, ConfigValues::kFirstNumber},
    {"save/playsound", &ConfigValues::savePlaysound, true},
    {"save/merge_source", &ConfigValues::saveMergeSource, true},
    {"save/pdf_source", &ConfigValues::savePdfSource, true},
    {"watermark/text", &ConfigValues::watermarkText, ""},
    {"watermark/time", &ConfigValues::watermarkTime, false},
    {"watermark/color", &ConfigValues::watermarkColor, "ff000000"},
    {"watermark/font_family", &ConfigValues::watermarkFontFamily, "Arial"},
    {"watermark/font_size", &ConfigValues::watermarkFontSize, 100},
    {"watermark/font_styleName", &ConfigValues::watermarkFontStyleName, "Regular"},
    {"watermark/strikeOut", &ConfigValues::watermarkStrikeOut, false},
    {"watermark/underline", &ConfigValues::watermarkUnderline, false},
    {"watermark/transparency", &ConfigValues::watermarkTransparency, 50},
    {"watermark/x", &ConfigValues::watermarkX, 50},
    {"watermark/y", &ConfigValues::watermarkY, 50},
    {"painting/percentage", &ConfigValues::paintingPercentage, 30},
    {"painting/main_resolution", &ConfigValues::paintingMainResolution, 5},
    {"painting/other_resolution", &ConfigValues::paintingOtherResolution, 5},
    {"user/documentsLocation", &ConfigValues::userDocumentsLocation, HomeWorkDirectory{}, OnReset::Keep},
    {"save/pdf_auto_capture", &ConfigValues::pdfAutoCapture, std::nullopt},
    {"save/pdf_ocr", &ConfigValues::pdfOcr, std::nullopt},
};

// The key of the setting held in `member`; null for a member that is not stored.
template <typename T>
constexpr const char *settingKey(T ConfigValues::*member)
{
    for (const SettingRow &row : kSettings) {
        if (const auto *held = std::get_if<T ConfigValues::*>(&row.member); held && *held == member)
            return row.key;
    }
    return nullptr;
}

// Every setting at its factory value.
ConfigValues factorySettings();

// The one settings store. The GUI thread reads members directly; edits that a
// capture thread may observe go through update(), and capture threads read
// through snapshot() and takeNextNumber().
class Config : public ConfigValues {
public:
    Config();

    void load();
    // Writes all settings atomically; false (and a debug line) when the file could not be replaced.
    bool save();
    // Writes only these keys (from memory) into the file and leaves every other
    // setting in it as it is, atomically as save() does. Without a file it writes all.
    bool saveKeys(const QStringList &keys);
    // Factory values, except for the camera and the work directory; not written.
    void init();

    ConfigValues snapshot() const;
    void update(const std::function<void(ConfigValues &)> &edit);
    // Returns the current running number and advances it, as one step. Never
    // negative: after the largest int (or from a negative setting) it goes on from kFirstNumber.
    int takeNextNumber();

    static QString defaultWorkDirectory();

    QString appDirPath;
    QList<QSize> outputSizes;
    QList<QString> imageFormats;

    const QString fileName = QStringLiteral("system.ini");

    const QString keyCameraIndex = key(&ConfigValues::cameraIndex);
    const QString keyCameraExposure = key(&ConfigValues::cameraExposure);
    const QString keyImageFourcc = key(&ConfigValues::imageFourcc);
    const QString keyImageResolution = key(&ConfigValues::imageResolution);
    const QString keyImageOutResolution = key(&ConfigValues::imageOutResolution);
    const QString keyImageCodec = key(&ConfigValues::imageCodec);
    const QString keyImageShootingTime = key(&ConfigValues::imageShootingTime);
    const QString keyImageQuality = key(&ConfigValues::imageQuality);
    const QString keySaveType = key(&ConfigValues::saveType);
    const QString keySavePrefix = key(&ConfigValues::savePrefix);
    const QString keySaveNumber = key(&ConfigValues::saveNumber);
    const QString keySavePlaysound = key(&ConfigValues::savePlaysound);
    const QString keySaveMergeSource = key(&ConfigValues::saveMergeSource);
    const QString keySavePdfSource = key(&ConfigValues::savePdfSource);
    const QString keyWatermarkText = key(&ConfigValues::watermarkText);
    const QString keyWatermarkTime = key(&ConfigValues::watermarkTime);
    const QString keyWatermarkColor = key(&ConfigValues::watermarkColor);
    const QString keyWatermarkFontFamily = key(&ConfigValues::watermarkFontFamily);
    const QString keyWatermarkFontSize = key(&ConfigValues::watermarkFontSize);
    const QString keyWatermarkFontStyleName = key(&ConfigValues::watermarkFontStyleName);
    const QString keyWatermarkStrikeOut = key(&ConfigValues::watermarkStrikeOut);
    const QString keyWatermarkUnderline = key(&ConfigValues::watermarkUnderline);
    const QString keyWatermarkTransparency = key(&ConfigValues::watermarkTransparency);
    const QString keyWatermarkX = key(&ConfigValues::watermarkX);
    const QString keyWatermarkY = key(&ConfigValues::watermarkY);
    const QString keyPaintingPercentage = key(&ConfigValues::paintingPercentage);
    const QString keyPaintingMainResolution = key(&ConfigValues::paintingMainResolution);
    const QString keyPaintingOtherResolution = key(&ConfigValues::paintingOtherResolution);
    const QString keyUserDocumentsLocation = key(&ConfigValues::userDocumentsLocation);
    const QString keyPdfAutoCapture = key(&ConfigValues::pdfAutoCapture);
    const QString keyPdfOcr = key(&ConfigValues::pdfOcr);

private:
    template <typename T>
    static QString key(T ConfigValues::*member)
    {
        return QString::fromLatin1(settingKey(member));
    }
    using Values = QList<QPair<QString, QVariant>>;
    // Writes `values` into a new file that starts empty or, with `keepOthers`,
    // as a copy of the current one less `removed`, and puts it in place.
    bool writeFile(const Values &values, const QStringList &removed, bool keepOthers);

    mutable std::mutex m_mutex;
};
