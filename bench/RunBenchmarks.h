#pragma once

#include <benchmark/benchmark.h>

// What BENCHMARK_MAIN does, for benchmark programs that first build their Qt application and
// settings: runs the benchmarks the command line selects; 1 for an argument it does not know.
inline int runBenchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
