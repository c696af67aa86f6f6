#pragma once

#include <QString>

#include <atomic>

struct PartRepair {
    // The recording under its final name; empty when it was not repaired.
    QString path;
    // Why it could not be repaired, for the user. Both empty: another copy
    // of the program is repairing or has just repaired it.
    QString error;
};

// Whether the file name is one the recorder gives a file while it writes it
// ("yyyy_MM_dd_HH_mm_ss.zzz.part.avi", later files with "_<n>" before ".part").
bool isRecordingPartName(const QString &fileName);

// Rebuilds a recording part that a crash left without its closing index: its
// whole frames are copied into a new file beside it, indexed, and that file
// takes the name the recorder would have given the part, never one already
// taken. The part is removed once its copy is in place and left as it is
// otherwise. `cancel` ends the copy between two frames.
PartRepair repairRecordingPart(const QString &partPath, const std::atomic<bool> &cancel);
