#include "app/allocator.h"
#include "app/cache.h"
#include "app/deviceprobe.h"
#include "mainwindow/startup.h"

#include <QApplication>
#include <QTextCodec>

int main(int argc, char *argv[])
{
    tuneAllocatorForFrames();
    QApplication app(argc, argv);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    Cache::create();
    SystemDeviceProbe probe;
    return runVorlant(app, probe);
}
