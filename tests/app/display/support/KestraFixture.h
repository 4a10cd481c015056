#pragma once

#include "display/Kestra.h"
#include "process/AsioPump.h"
#include "support/ProcessorSimulator.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <QJsonObject>
#include <QString>

#include <gtest/gtest.h>

#include <memory>
#include <string>

// The simulator's data address, and the MAC addresses of the receivers its walls are made of.
inline constexpr const char* kData = ProcessorSimulator::kDataTarget;
inline constexpr const char* kMac1 = "00:1a:2b:00:00:01";
inline constexpr const char* kMac2 = "00:1a:2b:00:00:02";

// A Kestra driver talking to a loopback processor simulator that demands Digest authentication
// and accepts updates, on an I/O context pumped as in the program. Settings start empty.
class KestraFixture : public ::testing::Test
{
protected:
    static constexpr const char* kUser = "admin";
    static constexpr const char* kPassword = "secret";

    KestraFixture();
    ~KestraFixture() override;

    // Points the driver at the simulator, with the simulator's credentials.
    void connectToSimulator();
    // The JSON documents of the PATCHes of the data that reached the processor, in order.
    std::vector<QJsonObject> patches() const;
    QJsonObject lastPatch() const;
    std::size_t patchCount() const;
    // Lets the application's event loop run once and end, so that a test that made the
    // application quit leaves the next test a working event loop.
    static void recoverFromQuit();

    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard = boost::asio::make_work_guard(io);
    AsioPump pump{io};
    ProcessorSimulator simulator;
    std::unique_ptr<Kestra> kestra;
};

QJsonObject parseObject(const std::string& json);
