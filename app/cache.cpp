#include "app/cache.h"

// The settings store must exist before anything else runs, so it is made by a
// static initialiser; the camera list follows it. Neither is ever freed.
Config *Cache::config = new Config();
QList<CameraInfo> *Cache::cameras = new QList<CameraInfo>();
