// Balance and template runs at the scale of a whole wall, engine-level, against the loopback
// processor with Digest authentication: the adjusters built by the controller's builder on this
// (the GUI) thread, the master calibrator on its worker thread, the processor driver uploading
// meshes or LDM gains, the camera side answered from what the processor was sent. Reported per
// run: peak resident memory, what the run added and what stayed after its adjusters were
// released, heap per adjuster, wall and CPU time per update cycle (the whole process, and the
// master's thread alone per adjuster), and the longest stall of this thread's event loop, seen by
// a timer that should fire every millisecond, with this thread's own CPU time within it (how much
// of the stall was this thread at work). The in-process reference: the heap of a bare QObject,
// the least an adjuster built on one can take.
//
// The full sizes are 400 tiles of 20 x 20 cells (160 000 adjusters) and 5 000 and 20 000 LDMs (a
// wall's worth of LDM gains in each update); the smaller arguments show how the cost grows.

#include "engine/Calibrator.h"
#include "support/UniformityRig.h"

#include "RunBenchmarks.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTimer>

#include <malloc.h>
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int RunLimitMs = 4 * 3600 * 1000;
constexpr double MiB = 1024.0 * 1024.0;

void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Bytes the allocator has handed out and not got back.
double heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks) + double(info.hblkhd);
}

// A field of /proc/self/status, in bytes.
double statusBytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0.0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toDouble() * 1024.0;
    }
    return 0.0;
}

// Starts the peak resident size afresh.
void resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// The longest gap between two turns of this thread's event loop: a timer that should fire every
// millisecond, and how much later than that it did.
class StallProbe
{
public:
    StallProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 gap = m_clock.restart();
            const double cpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            if (gap > m_longest) {
                m_longest = gap;
                m_longestCpu = (cpu - m_cpuAtLastTurn) * 1000.0;
            }
            m_cpuAtLastTurn = cpu;
        });
        m_clock.start();
        m_cpuAtLastTurn = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        m_timer.start();
    }
    // The longest stall since the last call, in milliseconds (beyond the timer's own interval).
    qint64 takeLongest()
    {
        const qint64 sinceLastTurn = m_clock.elapsed();
        if (sinceLastTurn > m_longest) {
            m_longest = sinceLastTurn;
            m_longestCpu = (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - m_cpuAtLastTurn) * 1000.0;
        }
        const qint64 longest = m_longest - 1;
        m_longest = 0;
        m_lastLongestCpu = std::exchange(m_longestCpu, 0.0);
        return std::max<qint64>(longest, 0);
    }
    // This thread's own CPU time within the longest stall that takeLongest last reported, in
    // milliseconds: near the stall itself when the thread was busy, near zero when it waited
    // (in a wait's I/O slice, or for a core the rig's other threads held).
    double lastLongestCpu() const { return m_lastLongestCpu; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
    double m_longestCpu = 0.0;
    double m_lastLongestCpu = 0.0;
    double m_cpuAtLastTurn = 0.0;
};

clockid_t threadClock(QObject& onThread)
{
    pthread_t thread{};
    QMetaObject::invokeMethod(&onThread, [&] { thread = pthread_self(); }, Qt::BlockingQueuedConnection);
    clockid_t clock{};
    pthread_getcpuclockid(thread, &clock);
    return clock;
}

void run(benchmark::State& state, Calibrator::TaskType task, const UniformityRig::Wall& wall,
         const AdjusterBuilder::Mesh& mesh = {})
{
    const QtMessageHandler previous = qInstallMessageHandler(silence);
    for (auto _ : state) {
        auto rig = std::make_unique<UniformityRig>(wall);
        if (!rig->connect()) {
            state.SkipWithError("the simulator's wall did not load");
            break;
        }
        const clockid_t masterClock = threadClock(rig->master());
        StallProbe probe;
        malloc_trim(0);
        resetPeak();
        const double residentBefore = statusBytes("VmRSS:");
        const double heapBefore = heapInUse();
        probe.takeLongest(); // from here on

        const bool built = task == Calibrator::Template ? rig->buildTemplate(UniformityRig::settings(), mesh)
                                                        : rig->buildBalance(UniformityRig::settings());
        const qint64 setUpStall = probe.takeLongest();
        if (!built) {
            state.SkipWithError("the adjusters were not built");
            break;
        }
        const auto adjusters = double(rig->adjusters().size());

        QElapsedTimer wallClock;
        wallClock.start();
        const double cpuBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double masterBefore = cpuSeconds(masterClock);
        // The heap at its fullest: sampled at every photograph, when every adjuster holds its
        // coroutines and its points so far.
        auto heapPeak = std::make_shared<std::atomic<double>>(heapBefore);
        rig->observer().onRequest([heapPeak](int) {
            const double now = heapInUse();
            if (now > heapPeak->load())
                heapPeak->store(now);
        });
        rig->start(task);
        if (!rig->waitForDone(RunLimitMs) || !rig->worker().doneCalls().constFirst().second) {
            state.SkipWithError("the run did not complete");
            break;
        }
        const double runSeconds = double(wallClock.elapsed()) / 1000.0;
        const double cpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
        const double masterCpu = cpuSeconds(masterClock) - masterBefore;
        const qint64 runStall = probe.takeLongest();
        const double runStallCpu = probe.lastLongestCpu();
        const auto cycles = double(rig->observer().requests());

        // What each adjuster still holds once its level is over: the object and its points.
        double pointBytes = 0.0;
        for (const Calibrator* adjuster : rig->adjusters().adjusters())
            pointBytes += double(adjuster->points().heldBytes());
        const double heapAtEnd = heapInUse();

        rig->release();
        const qint64 releaseStall = probe.takeLongest();
        const double peak = statusBytes("VmHWM:");
        const double residentAfter = statusBytes("VmRSS:");

        state.counters["adjusters"] = adjusters;
        state.counters["cycles"] = cycles;
        state.counters["peak_rss_MiB"] = peak / MiB;
        state.counters["added_rss_MiB"] = (peak - residentBefore) / MiB;
        state.counters["kept_rss_MiB"] = (residentAfter - residentBefore) / MiB;
        state.counters["heap_B_per_adjuster"] = (heapPeak->load() - heapBefore) / adjusters;
        state.counters["heap_B_per_adjuster_at_end"] = (heapAtEnd - heapBefore) / adjusters;
        state.counters["points_B_per_adjuster"] = pointBytes / adjusters;
        state.counters["calibrator_object_B"] = double(sizeof(Calibrator));
        state.counters["wall_ms_per_cycle"] = runSeconds * 1000.0 / cycles;
        state.counters["cpu_ms_per_cycle"] = cpu * 1000.0 / cycles;
        state.counters["master_cpu_us_per_adjuster_cycle"] = masterCpu * 1e6 / cycles / adjusters;
        state.counters["setup_stall_ms"] = double(setUpStall);
        state.counters["run_stall_ms"] = double(runStall);
        state.counters["run_stall_cpu_ms"] = runStallCpu;
        state.counters["release_stall_ms"] = double(releaseStall);
    }
    qInstallMessageHandler(previous);
}

// Tiles of 200 x 200 pixels in rows of 20, each of 2 x 2 LDMs, under a mesh of cells x cells.
void BM_TemplateRun(benchmark::State& state)
{
    const auto tiles = unsigned(state.range(0));
    const auto cells = uint(state.range(1));
    run(state, Calibrator::Template, {tiles, 200, 200, 2, 2, 20}, {cells, cells});
}
BENCHMARK(BM_TemplateRun)->Args({100, 20})->Args({400, 20})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Tiles of 8 x 5 LDMs of 10 x 10 pixels, in rows of 25.
void BM_BalanceRun(benchmark::State& state)
{
    const auto tiles = unsigned(state.range(0) / 40);
    run(state, Calibrator::Balance, {tiles, 80, 50, 8, 5, 25});
}
BENCHMARK(BM_BalanceRun)->Arg(1000)->Arg(5000)->Arg(20000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The reference: a bare QObject per adjuster.
void BM_BareQObjects(benchmark::State& state)
{
    const auto count = std::size_t(state.range(0));
    for (auto _ : state) {
        const double before = heapInUse();
        std::vector<std::unique_ptr<QObject>> objects;
        objects.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            objects.push_back(std::make_unique<QObject>());
        state.counters["heap_B_per_object"] = (heapInUse() - before) / double(count);
    }
}
BENCHMARK(BM_BareQObjects)->Arg(160000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    const BenchSettings settings;
    if (!settings.isValid())
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
