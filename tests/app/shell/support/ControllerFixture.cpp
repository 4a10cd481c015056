#include "support/ControllerFixture.h"

#include "support/TestSettings.h"

#include "display/SimulatedDisplay.h"
#include "engine/Background.h"
#include "engine/Calibrator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QTest>

void ControllerFixture::SetUp()
{
    TestSettings::clearSettings();
}

void ControllerFixture::TearDown()
{
    destroy();
    TestSettings::clearSettings();
}

Velotrimmer& ControllerFixture::build()
{
    m_controller = std::make_unique<Velotrimmer>(m_io);
    // A test polls when it means to: the ten-second poll would meet a slow test at a random
    // moment, rebuilding the simulated wall or warning of a processor without an address.
    m_controller->stopPeriodicPoll();
    return *m_controller;
}

void ControllerFixture::destroy()
{
    m_controller.reset();
    // What the destroyed devices left queued, then the I/O work they cancelled.
    QCoreApplication::sendPostedEvents();
    m_io.restart();
    m_io.poll();
}

void ControllerFixture::useSimulatedBench()
{
    Velotrimmer& velotrimmer = controller();
    if (velotrimmer.outputType() != 1)
        velotrimmer.switchOutput();
    velotrimmer.simulatedDisplay()->fetchOutputConfig();
    velotrimmer.setColorimeter(velotrimmer.dummyColorimeter());
    quickEngineTiming();
}

void ControllerFixture::quickEngineTiming()
{
    Calibrator::Timing quick;
    quick.settleMs = 0;
    quick.readCountPauseMs = 0;
    quick.readingTimeoutMs = 2000;
    quick.recoverableReadingPauseMs = 10;
    quick.staleReadingPauseMs = 10;
    quick.gainRetryPauseMs = 10;
    Calibrator* calibrator = controller().calibrator();
    QMetaObject::invokeMethod(calibrator, [calibrator, quick] { calibrator->setTiming(quick); },
                              Qt::BlockingQueuedConnection);
}

void ControllerFixture::quickGrabTiming(std::optional<int> imageWaitMs)
{
    Background::Timing quick;
    if (imageWaitMs)
        quick.imageWaitMs = *imageWaitMs;
    quick.firstAttemptPauseMs = 10;
    // The pauses still add up to over a second across the tries, long enough for a camera to
    // finish changing one setting (while it does, it is not ready and a grab is refused).
    quick.pauseStepMs = 150;
    Background* background = controller().background();
    QMetaObject::invokeMethod(background, [background, quick] { background->setTiming(quick); },
                              Qt::BlockingQueuedConnection);
}

bool ControllerFixture::waitUntil(const std::function<bool()>& condition, int limitMs)
{
    return QTest::qWaitFor(condition, limitMs);
}

void ControllerFixture::settleCalibrator()
{
    Calibrator* calibrator = controller().calibrator();
    QMetaObject::invokeMethod(calibrator, [] {}, Qt::BlockingQueuedConnection);
}

void ControllerFixture::skipReadDelays()
{
    Calibrator* calibrator = controller().calibrator();
    QMetaObject::invokeMethod(calibrator, [calibrator] { calibrator->setReadDelay(0); }, Qt::BlockingQueuedConnection);
    QObject::connect(
        calibrator, &Calibrator::readDelayChanged, calibrator, [calibrator] { calibrator->setReadDelay(0); },
        Qt::DirectConnection);
}
