#pragma once

#include <QList>

class DeviceProbe;
class QApplication;
class QWidget;
struct CameraInfo;

// Everything main does after creating the application object: discovery,
// the start-up values, the splash and the main window, then the event loop.
// Returns -1 when no camera is found.
int runVorlant(QApplication &app, DeviceProbe &probe);

// The window shown once discovery found a camera.
QWidget *createMainWindow();
