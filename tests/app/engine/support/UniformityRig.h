#pragma once

#include "display/Kestra.h"
#include "process/AsioPump.h"
#include "shell/AdjusterBuilder.h"
#include "shell/AdjusterSet.h"
#include "support/ModelColorimeter.h"
#include "support/ModelWallObserver.h"
#include "support/ProcessorSimulator.h"
#include "support/ProcessorWall.h"
#include "support/WorkerCalibrator.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <QThread>

#include <memory>

// A balance or template run, engine-level, against the loopback processor at any scale: the
// processor simulator (Digest on) with a wall of mesh tiles, the processor driver in front of it on
// an I/O context pumped as in the program, the adjusters built and configured by the controller's
// own builder on this (the GUI) thread, the master calibrator on its worker thread, and the camera
// side answered on a thread of its own from what the processor shows (a ProcessorWall seen
// through a ModelWallObserver with a different response per LDM).
class UniformityRig
{
public:
    // Tiles of tileWidth x tileHeight pixels, each of ldmsAcross x ldmsDown LDMs, in rows of
    // tilesPerRow (all in one row when 0).
    struct Wall
    {
        unsigned tiles = 2;
        unsigned tileWidth = 40;
        unsigned tileHeight = 20;
        unsigned ldmsAcross = 2;
        unsigned ldmsDown = 1;
        unsigned tilesPerRow = 0;
    };

    static constexpr std::array<double, 3> Targets{110.0, 120.0, 100.0};

    // keepLog: the simulator logs every request (for tests that read them; not at scale).
    explicit UniformityRig(const Wall& wall, bool keepLog = false);
    ~UniformityRig();

    UniformityRig(const UniformityRig&) = delete;
    UniformityRig& operator=(const UniformityRig&) = delete;

    // The settings every adjuster is given: the targets, no read delay, the default gain steps.
    static AdjusterSettings settings();

    // Loads the wall from the processor; false when it did not.
    bool connect();
    // Builds the adjusters as the controller does, slice by slice; true once all are built. The
    // observer is then ready to be scripted.
    bool buildBalance(const AdjusterSettings& settings);
    bool buildTemplate(const AdjusterSettings& settings, const AdjusterBuilder::Mesh& mesh);
    // Hands the adjusters to the master as the controller does, moves the observer to its thread
    // and starts the run.
    void start(Calibrator::TaskType task);
    bool waitForDone(int timeoutMs);
    // What the controller does once the run has ended: lets go of the adjusters; returns once
    // the last is deleted.
    void release();

    ProcessorSimulator& simulator() { return m_simulator; }
    Kestra& kestra() { return *m_kestra; }
    ProcessorWall& shown() { return *m_shown; }
    ModelWallObserver& observer() { return *m_observer; }
    WorkerCalibrator& worker() { return *m_worker; }
    Calibrator& master() { return m_worker->calibrator(); }
    AdjusterSet& adjusters() { return m_set; }
    AdjusterBuilder& builder() { return m_builder; }
    // What a record shows now on the processor, as the camera sees it.
    ModelWallObserver::Triple observed(const Macropixel& record, bool cell) const;

private:
    bool build();

    Wall m_wall;
    bool m_keepLog;
    boost::asio::io_context m_io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> m_guard =
        boost::asio::make_work_guard(m_io);
    AsioPump m_pump{m_io};
    ProcessorSimulator m_simulator;
    std::unique_ptr<Kestra> m_kestra;
    std::unique_ptr<ProcessorWall> m_shown;
    // The runs take no colorimeter readings; the master is wired to one all the same.
    ModelColorimeter m_colorimeter{nullptr};
    std::unique_ptr<WorkerCalibrator> m_worker;
    QThread m_cameraThread;
    std::unique_ptr<ModelWallObserver> m_observer;
    AdjusterSet m_set;
    AdjusterBuilder m_builder;
};
