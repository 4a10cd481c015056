// One authenticated PATCH from the processor driver to the loopback processor simulator, on a
// connection kept from the exchange before, waited for as every device operation waits; and, as
// the reference, libcurl in this process sending the same PATCH with Digest to the same server:
// with a fresh handle each time (a new connection, the challenge, the authenticated request), and
// with one handle kept between requests (its connection and its Digest state kept).
//
// Separate benchmarks meet whatever load the machine has at their moment; KestraVersusCurlPatch
// takes turns between the driver's PATCH, libcurl's (kept handle) and the driver's transport alone
// in one loop against one server, so that all meet the same load, and reports the driver's and
// libcurl's CPU time on this thread (where each does all its work) and wall time per exchange,
// with the ratios of the driver and of its transport to libcurl.
#include "CurlReference.h"
#include "ProcessorCredentials.h"
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

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

namespace {

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

// The driver's transport alone, to a server: its pool of lanes with Digest, each request waited
// for as a device call waits.
class LaneClient
{
public:
    explicit LaneClient(const ProcessorSimulator& server)
        : m_host(server.host())
    {
        m_context.username = kUser;
        m_context.password = kPassword;
        m_endpoints = boost::asio::ip::tcp::resolver(m_io).resolve(m_host, std::to_string(server.port()));
    }

    // Sends the request; true when the server accepted it (204).
    bool send(const CurlRequest& request)
    {
        const auto reply = m_loop.waitFor(m_lanes.digest_request(m_endpoints, m_host, boost::beast::http::verb::patch,
                                                                 request.target, request.contentType,
                                                                 request.body.size(), request.body));
        return reply.has_value() && reply.value().result_int() == 204;
    }

private:
    std::string m_host;
    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_guard =
        boost::asio::make_work_guard(m_io);
    http_client::cancel_set m_registrations;
    http_client::context m_context{m_io, &m_registrations};
    http_client::lane_pool m_lanes{m_context, Kestra::kProcessorLanes};
    IoEventLoop m_loop{m_io, [this] { http_client::cancel_all(m_context); }};
    http_client::endpoints m_endpoints;
};

// The transport alone: the driver's PATCH document on a lane of its pool, waited for as a device
// call waits, without building the document each time.
void LaneAuthenticatedPatch(benchmark::State& state)
{
    const CurlRequest patch = driversPatch();
    UpdatableProcessor simulator;
    LaneClient lane(simulator);
    if (!lane.send(patch)) {
        state.SkipWithError("the simulator did not accept the first PATCH");
        return;
    }
    for (auto _ : state) {
        if (!lane.send(patch)) {
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
    LaneClient lane(setup.simulator);

    // Colours with the full 17 significant digits a solved gain has.
    constexpr double kGoldenRatio = 0.6180339887498949;
    double colour = 0.0;
    struct Sender
    {
        std::function<bool()> send;
        CallCost cost;
    };
    std::array<Sender, 3> senders{{
        {[&] {
             if (settings == Settings::Same)
                 return setup.kestra.sendDisplaySettings().ok();
             colour = std::fmod(colour + kGoldenRatio, 1.0);
             return setup.kestra.setRGB(0, colour, 1.0 - colour, colour / 2.0).ok();
         }, {}},
        {[&] { return curl.perform() == 204; }, {}},
        {[&] { return lane.send(patch); }, {}},
    }};
    Sender& driver = senders[0];
    Sender& reference = senders[1];
    Sender& transport = senders[2];
    // Each connects and takes the challenge first.
    if (!std::all_of(senders.begin(), senders.end(), [](Sender& s) { return s.send(); })) {
        state.SkipWithError("the simulator did not accept the first PATCH");
        return;
    }

    std::size_t first = 0;
    for (auto _ : state) {
        // Each goes first in turn, so that none always follows the same one.
        for (std::size_t i = 0; i < senders.size(); ++i) {
            Sender& sender = senders[(first + i) % senders.size()];
            if (!sender.cost.measure(sender.send)) {
                state.SkipWithError("a PATCH failed");
                return;
            }
        }
        first = (first + 1) % senders.size();
    }
    const auto calls = double(state.iterations());
    const double curlCpu = reference.cost.cpuMicroseconds(calls);
    const double curlWall = reference.cost.wallMicroseconds(calls);
    state.counters["driver_cpu_us"] = driver.cost.cpuMicroseconds(calls);
    state.counters["curl_cpu_us"] = curlCpu;
    state.counters["cpu_ratio"] = driver.cost.cpuMicroseconds(calls) / curlCpu;
    state.counters["driver_wall_us"] = driver.cost.wallMicroseconds(calls);
    state.counters["curl_wall_us"] = curlWall;
    state.counters["wall_ratio"] = driver.cost.wallMicroseconds(calls) / curlWall;
    // The driver's transport alone, the floor under the driver's figures.
    state.counters["lane_cpu_ratio"] = transport.cost.cpuMicroseconds(calls) / curlCpu;
    state.counters["lane_wall_ratio"] = transport.cost.wallMicroseconds(calls) / curlWall;
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
