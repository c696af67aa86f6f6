#pragma once

#include <functional>
#include <string>
#include <vector>

// vorlant-bench runs every registered group in order, or those named on the command line.
struct BenchGroup {
    std::string name;
    std::function<int()> run; // returns non-zero when a check inside the benchmark failed
};

std::vector<BenchGroup> &benchGroups();

struct BenchRegistrar {
    BenchRegistrar(const std::string &name, std::function<int()> run) { benchGroups().push_back({name, std::move(run)}); }
};

#define VORLANT_BENCH_GROUP(name, fn) static BenchRegistrar benchRegistrar_##fn(name, fn)

// Median of a set of timings in milliseconds.
double medianMs(std::vector<double> samples);
