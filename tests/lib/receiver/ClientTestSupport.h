#pragma once

#include "ScriptedServer.h"
#include "receiver/SkerryToolClient.h"
#include "receiver/SkerryToolSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <variant>

namespace ClientTest {

using namespace std::chrono_literals;

// The client's session with limits short enough for tests.
class TestClient : public SkerryTool::Session
{
public:
    static Limits shortLimits()
    {
        Limits limits;
        limits.connect = 2s;
        limits.announcement = 2s;
        limits.transfer = 1s;
        limits.statusPollPause = 20ms;
        limits.statusPollLimit = 1s;
        return limits;
    }

    explicit TestClient(const std::string& host, const Limits& limits = shortLimits(),
                        std::function<void()> resolverSetup = {})
        : Session(host, limits, std::move(resolverSetup))
    {
    }
};

// A command's Error, or an all-zero one when it succeeded.
template <class Result>
SkerryTool::Error errorOf(const std::variant<Result, SkerryTool::Error>& result)
{
    if (const auto* error = std::get_if<SkerryTool::Error>(&result))
        return *error;
    return SkerryTool::Error{};
}

// Takes what one standard stream receives while it lives.
class StreamCapture
{
public:
    explicit StreamCapture(std::ostream& stream)
        : m_stream(stream)
        , m_previous(stream.rdbuf(m_text.rdbuf()))
    {
    }
    ~StreamCapture() { m_stream.rdbuf(m_previous); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::string text() const { return m_text.str(); }

private:
    std::ostream& m_stream;
    std::ostringstream m_text;
    std::streambuf* m_previous;
};

// Every client case needs the fixed port: UDP on every IPv4 address for discovery, TCP on
// 127.0.0.1 for the server. When another process holds it the cases are skipped, except on CI.
class PortTest : public ::testing::Test
{
protected:
    void SetUp() override;
};

// A server on the fixed port, and a client with short limits connected to it by name.
class ServerTest : public PortTest
{
protected:
    void SetUp() override;

    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<TestClient> client;
};

} // namespace ClientTest

namespace SkerryTool {
// Shows all three fields when a comparison fails.
void PrintTo(const Error& error, std::ostream* out);
} // namespace SkerryTool
