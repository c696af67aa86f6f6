#include "bench.h"

#include "app/allocator.h"
#include "support/simulatedcameras.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>

std::vector<BenchGroup> &benchGroups()
{
    static std::vector<BenchGroup> groups;
    return groups;
}

double medianMs(std::vector<double> samples)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
}

int main(int argc, char **argv)
{
    // The session group runs the program on the simulated camera: start
    // again with it preloaded when that group is to run.
    bool session = argc < 2;
    for (int i = 1; i < argc; ++i)
        session = session || std::strcmp(argv[i], "session") == 0;
    if (session)
        SimulatedCameras::preload(argc, argv);
    // Painting and widgets need an application object; no window is shown.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    tuneAllocatorForFrames();
    QApplication app(argc, argv);
    int failures = 0;
    for (const BenchGroup &group : benchGroups()) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i)
            wanted = wanted || group.name == argv[i];
        if (!wanted)
            continue;
        if (group.run() != 0) {
            std::printf("%s: CHECK FAILED\n", group.name.c_str());
            ++failures;
        }
        std::fflush(stdout);
    }
    return failures ? 1 : 0;
}
