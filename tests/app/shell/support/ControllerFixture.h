#pragma once

#include "shell/Velotrimmer.h"

#include <boost/asio/io_context.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

class Calibrator;
class DisplayBase;

// A controller built as the program builds it, on an I/O context of its own and against the test
// program's private settings, which each test starts empty (or with the values it stores first).
class ControllerFixture : public ::testing::Test
{
protected:
    static constexpr int WaitLimitMs = 20000;

    void SetUp() override;
    void TearDown() override;

    // Builds the controller; call after storing any settings it should start from.
    Velotrimmer& build();
    Velotrimmer& controller() { return *m_controller; }
    void destroy();

    // Selects the simulated display (with its demonstration wall) and the dummy colorimeter, and
    // makes the engine's pauses short, so that a run proceeds in a test's time.
    void useSimulatedBench();
    // Waits, with events flowing, until the condition holds; false after the limit.
    static bool waitUntil(const std::function<bool()>& condition, int limitMs = WaitLimitMs);
    // Makes the engine's fixed pauses short.
    void quickEngineTiming();
    // Makes the photo grabber's pauses short. A photo is waited for as long as the program waits
    // (a loaded machine may take seconds to deliver one), unless the test, of a camera that
    // delivers nothing, gives a shorter wait.
    void quickGrabTiming(std::optional<int> imageWaitMs = std::nullopt);
    // Runs the calls queued for the calibrator's thread so far.
    void settleCalibrator();
    // Lets the engine read without the settling delay the controller insists on (at least
    // 500 ms): whenever the controller hands the main calibrator its read delay, it becomes 0.
    void skipReadDelays();

    boost::asio::io_context m_io;
    std::unique_ptr<Velotrimmer> m_controller;
};
