// The wall view of the main window redrawing a large wall after the display announces new LDM
// data, as it does after every camera observation of a balance run: the real interface, loaded
// as the program loads it, offscreen. The aim is one frame at 60 Hz (16 ms).

#include "display/DisplayBase.h"
#include "display/SimulatedDisplay.h"
#include "shell/InterfaceLoader.h"
#include "shell/LogModel.h"
#include "shell/Velotrimmer.h"
#include "support/TestDisplay.h"

#include "RunBenchmarks.h"

#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <memory>

namespace {

// 200 tiles of 5 x 5 LDMs: a 5 000-LDM wall.
constexpr int kTilesAcross = 20;
constexpr int kTilesDown = 10;
constexpr int kLdmsPerSide = 5;
constexpr int kTileSize = 250;

void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

void processEventsFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The large wall, kept when the controller fetches the layout again (its idle poll, a mode switch).
class LargeWall : public TestDisplay
{
public:
    LargeWall() { fetchOutputConfig(); }
    ErrorType fetchOutputConfig() override
    {
        buildWall(kTilesAcross, kTilesDown, kLdmsPerSide, kTileSize);
        return {};
    }
};

// The interface over a controller in Balance mode whose display is the large wall, its messages
// silenced while it lives.
class WallInterface
{
public:
    WallInterface()
        : m_previousHandler(qInstallMessageHandler(silence))
    {
        m_controller = std::make_unique<Velotrimmer>(m_io);
        m_engine = std::make_unique<QQmlApplicationEngine>();
        if (!InterfaceLoader::load(*m_engine, *m_controller, *LogModel::appLog()))
            return;
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
        m_controller->setMode(Velotrimmer::Balance);
        processEventsFor(500);
        m_controller->setDisplay(&m_wall);
        processEventsFor(500);
    }
    ~WallInterface()
    {
        m_engine.reset();
        m_controller->setDisplay(m_controller->simulatedDisplay());
        m_controller.reset();
        QCoreApplication::sendPostedEvents();
        m_io.restart();
        m_io.poll();
        qInstallMessageHandler(m_previousHandler);
    }

    // False, with the benchmark skipped, when the interface or the wall did not load.
    bool loaded(benchmark::State& state) const
    {
        const bool whole = m_window && m_wall.ldmCount() == uint(kTilesAcross * kTilesDown * kLdmsPerSide * kLdmsPerSide);
        if (!whole)
            state.SkipWithError("the interface or the wall did not load");
        return whole;
    }

    QQuickWindow* window() const { return m_window; }
    LargeWall& wall() { return m_wall; }

private:
    QtMessageHandler m_previousHandler;
    boost::asio::io_context m_io;
    LargeWall m_wall;
    std::unique_ptr<Velotrimmer> m_controller;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
};

// The bindings of every LDM re-evaluated after the announcement (what the GUI thread spends
// before the frame is drawn); with "frame" 1, followed by a whole frame of the main window
// rendered (scene sync, render, read back).
void BM_WallViewRefresh(benchmark::State& state)
{
    const bool withFrame = state.range(0) != 0;
    WallInterface ui;
    if (!ui.loaded(state))
        return;
    for (auto _ : state) {
        emit ui.wall().ldmDataChanged();
        QCoreApplication::processEvents();
        if (withFrame) {
            const QImage frame = ui.window()->grabWindow();
            benchmark::DoNotOptimize(frame.constBits());
        }
    }
    state.counters["ldms"] = double(ui.wall().ldmCount());
}

BENCHMARK(BM_WallViewRefresh)->ArgName("frame")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const BenchSettings settings;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(VELOTRIM_VERSION));
    return runBenchmarks(argc, argv);
}
