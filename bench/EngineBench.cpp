// The engine's own cost per colorimeter reading in a full correction, against the model
// colorimeter with no read delay and no settling pauses: everything the master's thread spends
// between readings (sending gains, solving, logging, waiting for the answer's event).

#include "display/SimulatedDisplay.h"
#include "engine/Calibrator.h"
#include "support/ModelColorimeter.h"
#include "support/WorkerCalibrator.h"

#include "RunBenchmarks.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <pthread.h>
#include <time.h>

namespace {

double threadCpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

void BM_FullCorrection(benchmark::State& state)
{
    const QtMessageHandler previous = qInstallMessageHandler(silence);
    SimulatedDisplay display;
    ModelColorimeter colorimeter(&display);
    WorkerCalibrator worker(&colorimeter, &display);
    Calibrator& calibrator = worker.calibrator();
    Calibrator::Timing fast;
    fast.settleMs = 0;
    calibrator.setTiming(fast);
    calibrator.setSteps(17);
    calibrator.setReadDelay(0);
    calibrator.setReadCount(1);
    calibrator.setTargetLum(800.0);
    calibrator.setGamma(2.2);
    calibrator.setErrorAllowed(0.1);

    // The CPU clock of the calibrator's thread.
    pthread_t workerThread{};
    QMetaObject::invokeMethod(&calibrator, [&] { workerThread = pthread_self(); }, Qt::BlockingQueuedConnection);
    clockid_t workerClock{};
    pthread_getcpuclockid(workerThread, &workerClock);

    double engineSeconds = 0.0;
    int readings = 0;
    int runs = 0;
    for (auto _ : state) {
        const int readsBefore = colorimeter.reads();
        const double cpuBefore = threadCpuSeconds(workerClock);
        worker.start(Calibrator::Calibrate);
        if (!worker.waitForDone(++runs) || !worker.doneCalls().last().second) {
            state.SkipWithError("the correction did not complete");
            break;
        }
        engineSeconds += threadCpuSeconds(workerClock) - cpuBefore;
        readings += colorimeter.reads() - readsBefore;
    }
    if (readings > 0) {
        state.counters["readings_per_run"] = double(readings) / double(runs);
        state.counters["engine_cpu_us_per_reading"] = engineSeconds * 1e6 / double(readings);
    }
    qInstallMessageHandler(previous);
}

BENCHMARK(BM_FullCorrection)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
