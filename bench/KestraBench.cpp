// One authenticated PATCH from the processor driver to the loopback processor simulator, on a
// connection kept from the exchange before, waited for as every device operation waits; and, as
// the reference, libcurl in this process sending the same PATCH with Digest to the same server:
// with a fresh handle each time (a new connection, the challenge, the authenticated request), and
// with one handle kept between requests (its connection and its Digest state kept).
//
// Separate benchmarks meet whatever load the machine has at their moment; KestraVersusCurlPatch
// alternates the driver's PATCH and libcurl's (kept handle) in one loop against one server, so
// that both meet the same load, and reports each one's CPU time on this thread (where both do all
// their work) and wall time per exchange, with their ratios.
#include "CurlReference.h"
#include "RunBenchmarks.h"

#include "display/IoEventLoop.h"
#include "display/Kestra.h"
#include "display/http/http_client_lanes.h"
#include "support/ProcessorSimulator.h"

#include <benchmark/benchmark.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <QCoreApplication>

#include <time.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>

namespace {

constexpr const char* kUser = "admin";
constexpr const char* kPassword = "secret";
constexpr int kRepetitions = 7;

// The simulator as a processor that wants a Digest login and accepts every update.
struct UpdatableProcessor : ProcessorSimulator
{
    UpdatableProcessor()
    {
        requireDigest();
        acceptUpdates();
    }
};

// The simulator as the processor, and a driver connected to it.
struct DriverAndProcessor
{
    DriverAndProcessor()
    {
        kestra.setUsername(QString::fromLatin1(kUser));
        kestra.setPassword(QString::fromLatin1(kPassword));
        kestra.setAddress(QString::fromStdString(simulator.address()));
    }

    UpdatableProcessor simulator;
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard = boost::asio::make_work_guard(io);
    Kestra kestra{io};
};

// The driver's own PATCH document, for the transport and libcurl to send the same bytes.
CurlRequest driversPatch()
{
    DriverAndProcessor setup;
    setup.kestra.sendDisplaySettings();
    return {"PATCH", ProcessorSimulator::kDataTarget, "application/json",
            setup.simulator.bodies("PATCH", ProcessorSimulator::kDataTarget).back()};
}

void KestraAuthenticatedPatch(benchmark::State& state)
{
    DriverAndProcessor setup;
    if (!setup.kestra.sendDisplaySettings().ok()) { // resolves, connects and takes the challenge
        state.SkipWithError("the simulator did not accept the first PATCH");
        return;
    }
    const std::size_t before = setup.simulator.requestCount();
    for (auto _ : state) {
        const ErrorType result = setup.kestra.sendDisplaySettings();
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.message));
            break;
        }
    }
    state.counters["exchanges"] = double(setup.simulator.requestCount() - before) / double(state.iterations());
}
BENCHMARK(KestraAuthenticatedPatch)->Unit(benchmark::kMicrosecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

// The transport alone: the driver's PATCH document on a lane of its pool, waited for as a device
// call waits, without building the document each time.
void LaneAuthenticatedPatch(benchmark::State& state)
{
    const CurlRequest patch = driversPatch();
    UpdatableProcessor simulator;
    boost::asio::io_context io;
    auto guard = boost::asio::make_work_guard(io);
    http_client::cancel_set registrations;
    http_client::context ctx(io, &registrations);
    ctx.username = kUser;
    ctx.password = kPassword;
    http_client::lane_pool lanes(ctx, Kestra::kProcessorLanes);
    IoEventLoop loop(io, [&ctx] { http_client::cancel_all(ctx); });
    const auto endpoints = boost::asio::ip::tcp::resolver(io).resolve(simulator.host(), std::to_string(simulator.port()));
    const auto send = [&] {
        const auto reply = loop.waitFor(lanes.digest_request(endpoints, simulator.host(), boost::beast::http::verb::patch,
                                                             patch.target, patch.contentType, patch.body.size(),
                                                             patch.body));
        return reply.has_value() && reply.value().result_int() == 204;
    };
    if (!send()) {
        state.SkipWithError("the simulator did not accept the first PATCH");
        return;
    }
    for (auto _ : state) {
        if (!send()) {
            state.SkipWithError("a PATCH failed");
            break;
        }
    }
}
BENCHMARK(LaneAuthenticatedPatch)->Unit(benchmark::kMicrosecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

void CurlDigestPatch(benchmark::State& state, bool keepHandle)
{
    UpdatableProcessor simulator;
    const std::string origin = "http://" + simulator.address();
    const CurlRequest patch = driversPatch();
    auto kept = std::make_unique<CurlClient>(origin, kUser, kPassword);
    kept->prepare(patch);
    if (kept->perform() != 204) { // connects and takes the challenge
        state.SkipWithError("the simulator did not accept libcurl's PATCH");
        return;
    }
    const std::size_t before = simulator.requestCount();
    for (auto _ : state) {
        std::unique_ptr<CurlClient> fresh;
        CurlClient* client = kept.get();
        if (!keepHandle) {
            fresh = std::make_unique<CurlClient>(origin, kUser, kPassword);
            fresh->prepare(patch);
            client = fresh.get();
        }
        if (client->perform() != 204) {
            state.SkipWithError("libcurl's PATCH failed");
            break;
        }
    }
    state.counters["exchanges"] = double(simulator.requestCount() - before) / double(state.iterations());
}
BENCHMARK_CAPTURE(CurlDigestPatch, FreshHandle, false)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(CurlDigestPatch, ReusedHandle, true)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);

// CPU and wall time spent in the calls measured.
class CallCost
{
public:
    template <class Call>
    bool measure(Call&& call)
    {
        const double cpuBefore = threadCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        const bool ok = call();
        m_cpu += threadCpuSeconds() - cpuBefore;
        m_wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        return ok;
    }
    double cpuMicroseconds(double calls) const { return m_cpu * 1e6 / calls; }
    double wallMicroseconds(double calls) const { return m_wall * 1e6 / calls; }

private:
    static double threadCpuSeconds()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
    }

    double m_cpu = 0.0;
    double m_wall = 0.0;
};

// What the driver sends each time: the same settings again (a setter or a repeated step), or the
// settings with a new test colour, as every step of a correction sends them.
enum class Settings
{
    Same,
    NewColour
};

void KestraVersusCurlPatch(benchmark::State& state, Settings settings)
{
    DriverAndProcessor setup;
    const std::string origin = "http://" + setup.simulator.address();
    const CurlRequest patch = driversPatch();
    CurlClient curl(origin, kUser, kPassword);
    curl.prepare(patch);
    // Each connects and takes the challenge first.
    if (!setup.kestra.sendDisplaySettings().ok() || curl.perform() != 204) {
        state.SkipWithError("the simulator did not accept the first PATCH");
        return;
    }

    // Colours with the full 17 significant digits a solved gain has.
    constexpr double kGoldenRatio = 0.6180339887498949;
    double colour = 0.0;
    const auto driversPatch = [&] {
        if (settings == Settings::Same)
            return setup.kestra.sendDisplaySettings().ok();
        colour = std::fmod(colour + kGoldenRatio, 1.0);
        return setup.kestra.setRGB(0, colour, 1.0 - colour, colour / 2.0).ok();
    };
    const auto curlsPatch = [&] { return curl.perform() == 204; };

    CallCost driver;
    CallCost reference;
    bool driverFirst = true;
    for (auto _ : state) {
        // Each goes first every other time, so neither always follows the other.
        const bool ok = driverFirst ? driver.measure(driversPatch) && reference.measure(curlsPatch)
                                    : reference.measure(curlsPatch) && driver.measure(driversPatch);
        if (!ok) {
            state.SkipWithError("a PATCH failed");
            return;
        }
        driverFirst = !driverFirst;
    }
    const auto calls = double(state.iterations());
    state.counters["driver_cpu_us"] = driver.cpuMicroseconds(calls);
    state.counters["curl_cpu_us"] = reference.cpuMicroseconds(calls);
    state.counters["cpu_ratio"] = driver.cpuMicroseconds(calls) / reference.cpuMicroseconds(calls);
    state.counters["driver_wall_us"] = driver.wallMicroseconds(calls);
    state.counters["curl_wall_us"] = reference.wallMicroseconds(calls);
    state.counters["wall_ratio"] = driver.wallMicroseconds(calls) / reference.wallMicroseconds(calls);
}
BENCHMARK_CAPTURE(KestraVersusCurlPatch, SameSettings, Settings::Same)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(KestraVersusCurlPatch, NewColour, Settings::NewColour)
    ->Unit(benchmark::kMicrosecond)
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
