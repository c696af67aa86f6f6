#pragma once

#include "app/camerainfo.h"
#include "app/config.h"

#include <QList>

// Holder of the process-wide settings store and camera list, both created before main.
class Cache {
public:
    static Config *config;
    static QList<CameraInfo> *cameras;
};
