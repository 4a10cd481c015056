// One authenticated PATCH from the processor driver to the loopback processor simulator, waited
// for as every device operation waits; and, for scale, what curl needs for a Digest PATCH (its
// challenge and its authenticated request) against the same server.
#include "display/Kestra.h"
#include "support/ProcessorSimulator.h"

#include "RunBenchmarks.h"

#include <benchmark/benchmark.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

namespace {

constexpr const char* kUser = "admin";
constexpr const char* kPassword = "secret";
constexpr int kRepetitions = 7;

void KestraAuthenticatedPatch(benchmark::State& state)
{
    ProcessorSimulator simulator;
    simulator.requireDigest();
    simulator.acceptUpdates();
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    Kestra kestra(io);
    kestra.setUsername(kUser);
    kestra.setPassword(kPassword);
    kestra.setAddress(QString::fromStdString(simulator.address()));
    if (!kestra.sendDisplaySettings().ok()) { // resolves and takes the challenge
        state.SkipWithError("the simulator did not accept the first PATCH");
        return;
    }
    for (auto _ : state) {
        const ErrorType result = kestra.sendDisplaySettings();
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.message));
            break;
        }
    }
}
BENCHMARK(KestraAuthenticatedPatch)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

void CurlDigestPatch(benchmark::State& state)
{
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        state.SkipWithError("curl is not installed");
        return;
    }
    ProcessorSimulator simulator;
    simulator.requireDigest();
    simulator.acceptUpdates();
    const QString url = QStringLiteral("http://%1%2").arg(QString::fromStdString(simulator.address()),
                                                        QLatin1String(ProcessorSimulator::kDataTarget));
    const QStringList arguments{QStringLiteral("--digest"), QStringLiteral("-u"),
                                QStringLiteral("%1:%2").arg(QLatin1String(kUser), QLatin1String(kPassword)),
                                QStringLiteral("-X"), QStringLiteral("PATCH"), QStringLiteral("-H"),
                                QStringLiteral("Content-Type: application/json"), QStringLiteral("-d"),
                                QStringLiteral("{}"), QStringLiteral("-s"), QStringLiteral("-o"),
                                QStringLiteral("/dev/null"), QStringLiteral("-w"), QStringLiteral("%{time_total}"),
                                url};
    for (auto _ : state) {
        QProcess process;
        process.start(curl, arguments);
        if (!process.waitForFinished(5000) || process.exitCode() != 0) {
            state.SkipWithError("curl failed");
            break;
        }
        // curl's own transfer time, without the cost of starting a process.
        state.SetIterationTime(process.readAllStandardOutput().trimmed().toDouble());
    }
}
BENCHMARK(CurlDigestPatch)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    const BenchSettings settings;
    if (!settings.isValid())
        return 2;
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{if-critical}%{message}%{endif}"));

    return runBenchmarks(argc, argv);
}
