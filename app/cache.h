#pragma once

#include "app/camerainfo.h"
#include "app/config.h"

#include <QList>

// A process-wide object made on its first use and never freed (threads may
// still read it while the program ends). Nothing is made before main() runs.
template <typename T>
class LazyInstance {
public:
    T *get() const
    {
        static T *const instance = new T();
        return instance;
    }
    T *operator->() const { return get(); }
    T &operator*() const { return *get(); }
    operator T *() const { return get(); }
};

// Holder of the process-wide settings store and camera list.
class Cache {
public:
    // Makes both now: the store reads ./system.ini (writing it on a first
    // start). main() calls it once the application object exists; a program
    // that does not gets them made the same way where it first uses them.
    static void create();

    static constexpr LazyInstance<Config> config{};
    static constexpr LazyInstance<QList<CameraInfo>> cameras{};
};
