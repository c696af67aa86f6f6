#pragma once

#include <QList>
#include <QString>

#include <optional>

class DeviceProbe;
class QApplication;
class QWidget;
struct CameraInfo;

// Everything main does after creating the application object: discovery,
// the start-up values, the splash and the main window, then the event loop.
// Returns -1 when no camera is found. `cameraFiles` (--camera-files) wins
// over VORLANT_CAMERA_FILES.
int runVorlant(QApplication &app, DeviceProbe &probe, const std::optional<QString> &cameraFiles = std::nullopt);

// The window shown once discovery found a camera.
QWidget *createMainWindow();
