// The wall view of the main window on large walls, in the real interface loaded as the program
// loads it, offscreen: a frame after new LDM data and after a new layout, a hit test, and the
// set-up of the whole interface and of the wall view alone; the GUI thread's longest stall
// through a balance run of a 5 000-LDM wall on the loopback processor with the dummy camera. The reference, in the same run:
// a plain QML Repeater of 5 000 Rectangles, recoloured by one property change and drawn.
//
// A frame is measured by rendering the window and reading it back (grabWindow), which runs the
// polish, the scene-graph sync and the render of that frame on this thread, right after the
// change; "change" 0 is that cost for the window unchanged, for scale.

#include "display/DisplayBase.h"
#include "display/Kestra.h"
#include "display/SimulatedDisplay.h"
#include "shell/LogModel.h"
#include "shell/Velotrimmer.h"
#include "ui/InterfaceLoader.h"
#include "ui/WallView.h"
#include "support/ProcessorSimulator.h"
#include "support/TestDisplay.h"

#include "RunBenchmarks.h"

#include <benchmark/benchmark.h>

#include <boost/asio/io_context.hpp>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSettings>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

// Walls of tiles of 5 x 5 LDMs, 250 pixels a side: 20 x 10 tiles make 5 000 LDMs, 40 x 20 make
// 20 000.
constexpr int kLdmsPerSide = 5;
constexpr int kTileSize = 250;
constexpr int kTilesDownPer5000 = 10;
constexpr int kTilesAcrossPer5000 = 20;
constexpr int kReferenceRectangles = 5000;
constexpr int kSettleMs = 500;
// The stall watch: a beat this often; a gap longer than the aim counts as a stall.
constexpr int kBeatMs = 5;
constexpr double kStallAimMs = 50.0;

void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

void processEventsFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Tiles across and down for a wall of 5 000 or of 20 000 LDMs.
std::pair<int, int> tilesFor(int ldms)
{
    const int scale = ldms == 20000 ? 2 : 1;
    return {kTilesAcrossPer5000 * scale, kTilesDownPer5000 * scale};
}

// A large wall, kept when the controller fetches the layout again (its idle poll, a mode switch).
class LargeWall : public TestDisplay
{
public:
    explicit LargeWall(int ldms)
        : m_tiles(tilesFor(ldms))
    {
        fetchOutputConfig();
    }
    ErrorType fetchOutputConfig() override
    {
        buildWall(m_tiles.first, m_tiles.second, kLdmsPerSide, kTileSize);
        return {};
    }

private:
    std::pair<int, int> m_tiles;
};

// Qt's messages silenced for as long as it lives.
class Silence
{
public:
    Silence()
        : m_previous(qInstallMessageHandler(silence))
    {
    }
    ~Silence() { qInstallMessageHandler(m_previous); }

private:
    QtMessageHandler m_previous;
};

// The controller, built as the program builds it, shown a display in Balance mode.
class Controller
{
public:
    Controller()
        : m_controller(std::make_unique<Velotrimmer>(m_io))
    {
    }
    ~Controller()
    {
        m_controller->setRunning(false);
        m_controller->setDisplay(m_controller->simulatedDisplay());
        m_controller.reset();
        QCoreApplication::sendPostedEvents();
        m_io.restart();
        m_io.poll();
    }
    void show(DisplayBase& display)
    {
        m_controller->setDisplay(&display);
        display.fetchOutputConfig();
        m_controller->setMode(Velotrimmer::Balance);
        processEventsFor(kSettleMs);
    }
    Velotrimmer& operator*() { return *m_controller; }
    Velotrimmer* operator->() { return m_controller.get(); }

private:
    boost::asio::io_context m_io;
    std::unique_ptr<Velotrimmer> m_controller;
};

// The main window's wall view, among the items under one.
WallView* findWallView(QQuickItem* item)
{
    if (auto* wall = qobject_cast<WallView*>(item))
        return wall;
    for (QQuickItem* child : item->childItems()) {
        if (WallView* wall = findWallView(child))
            return wall;
    }
    return nullptr;
}

// The interface over a controller, loaded as the program loads it.
class Interface
{
public:
    explicit Interface(Velotrimmer& controller)
    {
        m_engine = std::make_unique<QQmlApplicationEngine>();
        if (!InterfaceLoader::load(*m_engine, controller, *LogModel::appLog()))
            return;
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
        if (m_window)
            m_wall = findWallView(m_window->contentItem());
    }
    ~Interface()
    {
        m_engine.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // False, with the benchmark skipped, when the interface did not load or does not show the
    // display's whole wall.
    bool shows(benchmark::State& state, const DisplayBase& display)
    {
        processEventsFor(kSettleMs);
        const bool whole = m_wall && display.ldmCount() > 0 && m_wall->itemCount() == int(display.ldmCount());
        if (!whole)
            state.SkipWithError("the interface or its wall did not load");
        return whole;
    }

    void frame() const
    {
        const QImage image = m_window->grabWindow();
        benchmark::DoNotOptimize(image.constBits());
    }
    WallView& wall() const { return *m_wall; }

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
    WallView* m_wall = nullptr;
};

// A large wall shown by the controller (which it outlives), quietly.
struct WallScene
{
    explicit WallScene(int ldms)
        : wall(ldms)
    {
        controller.show(wall);
    }
    Silence quiet;
    LargeWall wall;
    Controller controller;
};

// What changes before a measured frame.
enum Change { Unchanged = 0, NewData = 1, NewLayout = 2 };

// A frame of the main window after the display announces a change of its wall.
void BM_WallView(benchmark::State& state)
{
    const auto change = Change(state.range(0));
    const int ldms = int(state.range(1));
    WallScene scene(ldms);
    LargeWall& wall = scene.wall;
    Interface ui(*scene.controller);
    if (!ui.shows(state, wall))
        return;
    double level = 0.0;
    for (auto _ : state) {
        if (change == NewData) {
            // A reading for every LDM, as after an observation, then the announcement.
            level = level >= 200.0 ? 0.0 : level + 1.0;
            for (uint n = 1; n <= wall.ldmCount(); ++n)
                wall.setLdmRGBObserved(n, level, 255.0 - level, 100.0);
            emit wall.ldmDataChanged();
        } else if (change == NewLayout) {
            emit wall.refreshChanged();
            emit wall.fetchedOutputConfig();
        }
        ui.frame();
    }
    state.counters["ldms"] = double(wall.ldmCount());
}

BENCHMARK(BM_WallView)
    ->ArgNames({"change", "ldms"})
    ->Args({Unchanged, 5000})
    ->Args({NewData, 5000})
    ->Args({NewData, 20000})
    ->Args({NewLayout, 5000})
    ->Args({NewLayout, 20000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The LDM under a point of the wall view, as a click asks.
void BM_WallHitTest(benchmark::State& state)
{
    const int ldms = int(state.range(0));
    WallScene scene(ldms);
    LargeWall& wall = scene.wall;
    Interface ui(*scene.controller);
    if (!ui.shows(state, wall))
        return;
    WallView& view = ui.wall();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> across(0.0, view.width());
    std::uniform_real_distribution<double> down(0.0, view.height());
    std::vector<QPointF> points(4096);
    for (QPointF& point : points)
        point = QPointF(across(random), down(random));
    std::size_t next = 0;
    int found = 0;
    for (auto _ : state) {
        const QPointF& point = points[next++ % points.size()];
        found += view.itemAt(point.x(), point.y()) > 0 ? 1 : 0;
    }
    benchmark::DoNotOptimize(found);
    state.counters["ldms"] = double(wall.ldmCount());
}

BENCHMARK(BM_WallHitTest)->ArgName("ldms")->Arg(5000)->Arg(20000)->Unit(benchmark::kMicrosecond);

// The whole interface loaded and its first frame drawn, with the controller on a large wall.
void BM_InterfaceSetUp(benchmark::State& state)
{
    WallScene scene(int(state.range(0)));
    const LargeWall& wall = scene.wall;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        auto ui = std::make_unique<Interface>(*scene.controller);
        ui->frame();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (ui->wall().itemCount() != int(wall.ldmCount())) {
            state.SkipWithError("the interface did not show the wall");
            break;
        }
        ui.reset();
    }
    state.counters["ldms"] = double(wall.ldmCount());
}

BENCHMARK(BM_InterfaceSetUp)->ArgName("ldms")->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The reference: a window of 5 000 plain Rectangles of a Repeater, each coloured by a binding on
// one property; with "change" 1 the property changes before the frame.
constexpr char kReferenceQml[] = R"(
import QtQuick
Window {
    width: 780
    height: 600
    visible: true
    property int revision: 0
    Repeater {
        model: @RECTANGLES@
        Rectangle {
            required property int index
            x: (index % 100) * 7.8
            y: Math.floor(index / 100) * 12
            width: 7
            height: 11
            color: Qt.rgba(((index + revision) % 256) / 255, 0.5, 0.5, 1)
            border.width: 1
            border.color: "white"
        }
    }
}
)";

QByteArray referenceQml()
{
    return QByteArray(kReferenceQml).replace("@RECTANGLES@", QByteArray::number(kReferenceRectangles));
}

void BM_ReferenceRepeater(benchmark::State& state)
{
    const bool change = state.range(0) != 0;
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(referenceQml(), QUrl(QStringLiteral("qrc:/bench/Reference.qml")));
    std::unique_ptr<QObject> root(component.create());
    auto* window = qobject_cast<QQuickWindow*>(root.get());
    if (!window) {
        state.SkipWithError(qPrintable(component.errorString()));
        return;
    }
    processEventsFor(kSettleMs);
    int revision = 0;
    for (auto _ : state) {
        if (change)
            window->setProperty("revision", ++revision);
        const QImage image = window->grabWindow();
        benchmark::DoNotOptimize(image.constBits());
    }
}

BENCHMARK(BM_ReferenceRepeater)->ArgName("change")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Windows made from a QML source and drawn once, each timed, until the state ends or the window
// does not show what it should (whole tells).
void measureSetUps(benchmark::State& state, QQmlEngine& engine, const QByteArray& source,
                   const std::function<bool(QQuickWindow&)>& whole)
{
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        QQmlComponent component(&engine);
        component.setData(source, QUrl(QStringLiteral("qrc:/bench/SetUp.qml")));
        std::unique_ptr<QObject> root(component.create());
        auto* window = qobject_cast<QQuickWindow*>(root.get());
        if (!window) {
            state.SkipWithError(qPrintable(component.errorString()));
            break;
        }
        const QImage image = window->grabWindow();
        benchmark::DoNotOptimize(image.constBits());
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (!whole(*window)) {
            state.SkipWithError("the window did not show what it should");
            break;
        }
        root.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// The reference's set-up: the 5 000 Rectangles made and drawn once.
void BM_ReferenceRepeaterSetUp(benchmark::State& state)
{
    QQmlEngine engine;
    measureSetUps(state, engine, referenceQml(), [](QQuickWindow&) { return true; });
}

BENCHMARK(BM_ReferenceRepeaterSetUp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The wall view alone made and drawn once in a window of the reference's size, fitted to a
// large wall: the same work as the reference's set-up, for its 5 000 Rectangles.
constexpr char kWallViewQml[] = R"(
import QtQuick
import WallView 1.0
Window {
    width: 780
    height: 600
    visible: true
    WallView {
        width: wallWidth * zoom
        height: wallHeight * zoom
        display: wallDisplay
        zoom: wallZoom
    }
}
)";

void BM_WallViewSetUp(benchmark::State& state)
{
    Silence quiet;
    LargeWall wall(int(state.range(0)));
    InterfaceLoader::registerTypes();
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("wallDisplay"), &wall);
    const double zoom = std::min(780.0 / (wall.maxX() - wall.minX()), 600.0 / (wall.maxY() - wall.minY()));
    engine.rootContext()->setContextProperty(QStringLiteral("wallZoom"), zoom);
    measureSetUps(state, engine, kWallViewQml, [&wall](QQuickWindow& window) {
        const WallView* view = findWallView(window.contentItem());
        return view && view->itemCount() == int(wall.ldmCount());
    });
    state.counters["ldms"] = double(wall.ldmCount());
}

BENCHMARK(BM_WallViewSetUp)->ArgName("ldms")->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// The GUI thread through a balance run on a 5 000-LDM wall of the loopback processor, with the
// dummy camera and the interface shown: the longest time between two beats of a timer that
// should beat every few milliseconds, and how many gaps exceeded the aim.
void BM_BalanceRunStalls(benchmark::State& state)
{
    const auto [across, down] = tilesFor(int(state.range(0)));
    ProcessorSimulator processor;
    processor.requireDigest();
    processor.acceptUpdates();
    processor.setRoute("GET", ProcessorSimulator::kStatusTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::status()));
    processor.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                       ProcessorSimulator::Reply::json(ProcessorSimulator::meshTiles(
                           unsigned(across * down), kTileSize, kTileSize, kLdmsPerSide, kLdmsPerSide, unsigned(across))));
    {
        QSettings settings;
        settings.setValue("output", false);
        settings.setValue("camera", true);
        settings.setValue("btMinIterations", 3);
        settings.setValue("btCompliantIterations", 1);
        settings.setValue("btMaxIterations", int(state.range(1)));
        settings.setValue("readDelay", 500);
    }
    Silence quiet;
    Controller controller;
    Kestra& kestra = *controller->kestra();
    kestra.setUsername(QStringLiteral("admin"));
    kestra.setPassword(QStringLiteral("secret"));
    kestra.setAddress(QString::fromStdString(processor.address()));
    controller.show(kestra);
    Interface ui(*controller);
    if (!ui.shows(state, kestra))
        return;
    controller->setFakeLdmVariation(0.05);
    controller->setBalanceTargetRed(150.0);
    controller->setBalanceTargetGreen(175.0);
    controller->setBalanceTargetBlue(150.0);

    for (auto _ : state) {
        double longest = 0.0;
        int stalls = 0;
        QElapsedTimer clock;
        QElapsedTimer sinceBeat;
        QTimer beat;
        beat.setTimerType(Qt::PreciseTimer);
        beat.setInterval(kBeatMs);
        QObject::connect(&beat, &QTimer::timeout, [&] {
            const double gap = double(sinceBeat.nsecsElapsed()) / 1e6;
            longest = std::max(longest, gap);
            stalls += gap > kStallAimMs ? 1 : 0;
            sinceBeat.restart();
        });
        clock.start();
        sinceBeat.start();
        beat.start();
        controller->setRunning(true);
        while (controller->running())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        beat.stop();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        state.counters["longest_gap_ms"] = longest;
        state.counters["gaps_over_50ms"] = stalls;
        state.counters["status"] = controller->status();
    }
    state.counters["ldms"] = double(kestra.ldmCount());
}

BENCHMARK(BM_BalanceRunStalls)
    ->ArgNames({"ldms", "iterations"})
    ->Args({5000, 6})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    // Offscreen unless the caller chose a platform (xcb under xvfb-run, for the GPU path).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const BenchSettings settings;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(VELOTRIM_VERSION));
    return runBenchmarks(argc, argv);
}
