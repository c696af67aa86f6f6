#pragma once

#include "app/config.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>

#include <functional>

// File suffix of photographs, which is also the format name handed to the
// image writer: "tiff" when the TIFF switch is on, else the configured codec.
QString photoSuffix(const QString &codec, bool saveAsTiff);

// "<directory>/<prefix>_<number>.<suffix>". Each part is inserted once, so a
// "%" in the directory or prefix is kept as it is.
QString numberedPhotoName(const QString &directory, const QString &prefix, int number, const QString &suffix);

// "<directory>/yyyy_MM_dd HH_mm_ss.zzz.<suffix>"; copy 2, 3, ... adds "_2",
// "_3" before the suffix, for files stamped within the same millisecond.
QString timedPhotoName(const QString &directory, const QDateTime &time, const QString &suffix, int copy = 1);

// Whether pictures can be written in this format (by Qt, or else by OpenCV).
bool canWriteImageFormat(const QString &format);

// What is being saved, for the messages that name it.
enum class SavedPicture { Photograph, MergedImage, Document };

// Makes sure the directory exists, creating it and its parents if needed.
// Returns an empty string, or a message for the user.
QString ensureDirectory(const QString &directory, SavedPicture what = SavedPicture::Photograph);

// Gives the full path to try on attempt 1, 2, ...; an empty path gives up.
using NameCandidates = std::function<QString(int attempt)>;

struct SaveOutcome {
    QString path;  // the name the file was written under; empty on failure
    QString error; // a message for the user; empty on success
};

// Encodes the picture, writes it to a temporary file in `directory` and then
// moves it to the first candidate name that is not taken. An existing file is
// never replaced, and nothing is left under a final name or as a temporary
// file when anything fails. Candidates are asked for only once the picture is
// completely on disk, so a failed write uses up no name.
SaveOutcome saveImageAsNewFile(const QImage &picture, const QString &directory, const QString &format, int quality,
                               const NameCandidates &names, SavedPicture what = SavedPicture::Photograph);

// Writes the bytes as saveImageAsNewFile writes a picture: temporary file
// first, then the first free candidate name.
SaveOutcome saveBytesAsNewFile(const QByteArray &bytes, const QString &directory, const NameCandidates &names);

// Moves a finished file to `finalPath` unless that name is taken: an existing
// file is never replaced. Returns 0, EEXIST when the name is taken, or another errno value.
int claimName(const QString &tempPath, const QString &finalPath);

// For writers that need a path of their own: creates an empty hidden file in
// `directory` whose name ends in ".<suffix>". Empty (and `error` set) on failure.
QString createTemporaryPath(const QString &directory, const QString &suffix, QString *error);

// Flushes a finished file made by createTemporaryPath to disk and moves it to
// the first free candidate name; the temporary file is removed on failure.
SaveOutcome moveAsNewFile(const QString &tempPath, const QString &directory, const NameCandidates &names);

// Candidates under the configured naming rule: a fresh running number for
// every attempt, or the time with "_2", "_3", ... for files of the same millisecond.
NameCandidates configuredNames(const ConfigValues &settings, const QString &directory, const QString &suffix,
                               const std::function<int()> &nextNumber);

// The name of a file that is written later, chosen now: the first candidate
// not yet taken, so that its running number or time stamp is that of the
// moment asked and files written meanwhile come after it.
struct ReservedName {
    QString path;            // empty when no candidate was free
    NameCandidates candidates; // `path` first, then the candidates after it
};
ReservedName reserveName(const NameCandidates &names);
