#pragma once

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

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

// Settings of this run only (a driver stores its credentials): a configuration folder of its own
// for as long as the object lives, and the benchmarks' application name. Made before the Qt
// application.
class BenchSettings
{
public:
    BenchSettings()
    {
        if (m_folder.isValid())
            qputenv("XDG_CONFIG_HOME", m_folder.path().toLocal8Bit());
        QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
        QCoreApplication::setApplicationName(QStringLiteral("VelotrimBench"));
    }
    bool isValid() const { return m_folder.isValid(); }

private:
    QTemporaryDir m_folder;
};
