#pragma once

#include <QCoreApplication>
#include <QThreadPool>

// Lets every thumbnail being decoded arrive at its window.
inline void settleThumbnails()
{
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
}
