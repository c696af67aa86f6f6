#pragma once

#include "app/camerainfo.h"

#include <QList>
#include <QString>

#include <optional>

class DeviceProbe;

// Probes /dev/video0, /dev/video1, ... until the first node that is missing,
// cannot be opened or is not a capture device.
QList<CameraInfo> discoverCameras(DeviceProbe &probe);

// The camera stand-in: one camera per entry of a colon-separated list of
// media files, until the first entry that cannot be opened.
QList<CameraInfo> discoverCameraFiles(const QString &fileList);

// The environment variable that switches discovery to the stand-in.
constexpr const char *kCameraFilesVariable = "VORLANT_CAMERA_FILES";

// Stand-in when the list of files is not empty, else the device nodes. The
// list is `cameraFiles` when given (--camera-files), else the variable.
QList<CameraInfo> discoverAll(DeviceProbe &probe, const std::optional<QString> &cameraFiles = std::nullopt);
