#include "UniformityRig.h"

#include <QEventLoop>
#include <QTest>

#include <chrono>

namespace {

using namespace std::chrono_literals;

// Build a wall of adjusters in no more than this.
constexpr int BuildLimitMs = 600000;

} // namespace

UniformityRig::UniformityRig(const Wall& wall, bool keepLog)
    : m_wall(wall)
    , m_keepLog(keepLog)
{
    m_pump.start();
    m_simulator.requireDigest();
    m_simulator.acceptUpdates();
    m_simulator.setRoute("GET", ProcessorSimulator::kLayoutTarget,
                         ProcessorSimulator::Reply::json(ProcessorSimulator::meshTiles(
                             wall.tiles, wall.tileWidth, wall.tileHeight, wall.ldmsAcross, wall.ldmsDown, wall.tilesPerRow)));
    // Every tile reads "idle": an upload waits for it once, with no grace for a busy phase.
    m_simulator.acceptMeshUploads({ProcessorSimulator::Reply::text("idle")});
    m_kestra = std::make_unique<Kestra>(m_io);
    m_kestra->setUsername(QStringLiteral("admin"));
    m_kestra->setPassword(QStringLiteral("secret"));
    m_kestra->setAddress(QString::fromStdString(m_simulator.address()));
    m_kestra->setTileStateTiming({1ms, 0ms, 30000ms});
    m_cameraThread.start();
}

UniformityRig::~UniformityRig()
{
    m_builder.cancel();
    m_worker.reset();
    m_cameraThread.quit();
    m_cameraThread.wait();
    m_observer.reset();
    m_set.clear();
    m_shown.reset();
    m_kestra.reset();
}

AdjusterSettings UniformityRig::settings()
{
    AdjusterSettings settings;
    settings.targets = Targets;
    settings.readDelay = 0;
    return settings;
}

bool UniformityRig::connect()
{
    if (!m_kestra->fetchOutputConfig().ok() || m_kestra->tileCount() != m_wall.tiles)
        return false;
    m_shown = std::make_unique<ProcessorWall>(m_simulator, *m_kestra, m_keepLog);
    m_worker = std::make_unique<WorkerCalibrator>(&m_colorimeter, m_kestra.get());
    return true;
}

bool UniformityRig::buildBalance(const AdjusterSettings& settings)
{
    m_builder.startBalance(m_set, *m_kestra, settings);
    return build();
}

bool UniformityRig::buildTemplate(const AdjusterSettings& settings, const AdjusterBuilder::Mesh& mesh)
{
    if (m_builder.startTemplate(m_set, *m_kestra, settings, mesh))
        return false;
    return build();
}

bool UniformityRig::build()
{
    if (m_builder.isBuilding()) {
        QEventLoop loop;
        QObject::connect(&m_builder, &AdjusterBuilder::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(BuildLimitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (m_builder.isBuilding() || m_set.isEmpty())
        return false;
    m_observer = std::make_unique<ModelWallObserver>(&master(), m_set.macropixels(), m_set.tiles());
    m_observer->setResponses(ModelWallObserver::variedResponse);
    m_observer->setShown([wall = m_shown.get()](const Macropixel& record, bool cell) { return wall->shown(record, cell); });
    return true;
}

void UniformityRig::start(Calibrator::TaskType task)
{
    Calibrator& master = m_worker->calibrator();
    master.setMode(task == Calibrator::Template ? Calibrator::TemplateMode : Calibrator::BalanceMode);
    settings().applyTo(master);
    master.setLoggable(true);
    master.setSimulatedDisplay(false);
    master.setAdjusters(m_set.adjusters());
    master.setMacropixels(m_set.macropixels());
    master.setTiles(m_set.tiles());
    m_observer->moveToThread(&m_cameraThread);
    m_worker->start(task);
}

bool UniformityRig::waitForDone(int timeoutMs)
{
    return m_worker->waitForDone(1, timeoutMs);
}

void UniformityRig::release()
{
    QMetaObject::invokeMethod(
        &master(),
        [master = &master()] {
            master->setAdjusters({});
            master->setMacropixels({});
            master->setTiles({});
        },
        Qt::BlockingQueuedConnection);
    // As the controller does: the set empties at once, its objects go a slice at a time, then
    // the calibrator's thread hands their pages back.
    m_builder.release(m_set);
    if (m_builder.isReleasing()) {
        QEventLoop loop;
        QObject::connect(&m_builder, &AdjusterBuilder::released, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QEventLoop loop;
    QMetaObject::invokeMethod(&master(), [&loop] {
        AdjusterBuilder::returnFreedPages();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
}

ModelWallObserver::Triple UniformityRig::observed(const Macropixel& record, bool cell) const
{
    return ModelWallObserver::respond(ModelWallObserver::variedResponse(record.number), m_shown->shown(record, cell));
}
