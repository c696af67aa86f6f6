#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <functional>
#include <mutex>

// The 29 persisted settings, as plain values. A copy of this is what one
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

    // The directory files are written into: an empty setting never means "/".
    QString workDirectory() const;
};

// The one settings store. The GUI thread reads members directly; edits that a
// capture thread may observe go through update(), and capture threads read
// through snapshot() and takeNextNumber().
class Config : public ConfigValues {
public:
    Config();

    void load();
    // Writes all settings atomically; false (and a debug line) when the file could not be replaced.
    bool save();
    void init();

    ConfigValues snapshot() const;
    void update(const std::function<void(ConfigValues &)> &edit);
    // Returns the current running number and advances it, as one step. Never
    // negative: after the largest int (or from a negative setting) it goes on from kFirstNumber.
    int takeNextNumber();

    static constexpr int kFirstNumber = 1;

    static QString defaultWorkDirectory();

    QString appDirPath;
    QList<QSize> outputSizes;
    QList<QString> imageFormats;

    const QString fileName = QStringLiteral("system.ini");

    const QString keyCameraIndex = QStringLiteral("camera/index");
    const QString keyCameraExposure = QStringLiteral("camera/exposure");
    const QString keyImageFourcc = QStringLiteral("image/fourcc");
    const QString keyImageResolution = QStringLiteral("image/resolution");
    const QString keyImageOutResolution = QStringLiteral("image/out_resolution");
    const QString keyImageCodec = QStringLiteral("image/codec");
    const QString keyImageShootingTime = QStringLiteral("image/shooting_time");
    const QString keyImageQuality = QStringLiteral("image/quality");
    const QString keySaveType = QStringLiteral("save/type");
    const QString keySavePrefix = QStringLiteral("save/prefix");
    const QString keySaveNumber = QStringLiteral("save/number");
    const QString keySavePlaysound = QStringLiteral("save/playsound");
    const QString keySaveMergeSource = QStringLiteral("save/merge_source");
    const QString keySavePdfSource = QStringLiteral("save/pdf_source");
    const QString keyWatermarkText = QStringLiteral("watermark/text");
    const QString keyWatermarkTime = QStringLiteral("watermark/time");
    const QString keyWatermarkColor = QStringLiteral("watermark/color");
    const QString keyWatermarkFontFamily = QStringLiteral("watermark/font_family");
    const QString keyWatermarkFontSize = QStringLiteral("watermark/font_size");
    const QString keyWatermarkFontStyleName = QStringLiteral("watermark/font_styleName");
    const QString keyWatermarkStrikeOut = QStringLiteral("watermark/strikeOut");
    const QString keyWatermarkUnderline = QStringLiteral("watermark/underline");
    const QString keyWatermarkTransparency = QStringLiteral("watermark/transparency");
    const QString keyWatermarkX = QStringLiteral("watermark/x");
    const QString keyWatermarkY = QStringLiteral("watermark/y");
    const QString keyPaintingPercentage = QStringLiteral("painting/percentage");
    const QString keyPaintingMainResolution = QStringLiteral("painting/main_resolution");
    const QString keyPaintingOtherResolution = QStringLiteral("painting/other_resolution");
    const QString keyUserDocumentsLocation = QStringLiteral("user/documentsLocation");

private:
    mutable std::mutex m_mutex;
};

// The twelve photograph sizes, in the order the settings index them.
QList<QSize> standardOutputSizes();
// The factory output size, used whenever a stored index is out of range.
constexpr int kFactoryOutResolution = 3;
