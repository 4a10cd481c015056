#pragma once

#include "display/http/http_client.h"
#include "display/http/http_client_cancel_registration.h"
#include "display/http/http_client_lanes.h"
#include "display/IoEventLoop.h"
#include "process/AsioPump.h"
#include "support/ProcessorSimulator.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

using Result = http_client::response_result;

template <class T>
QCoro::Task<void> storeResult(QCoro::Task<T> task, std::optional<T>* out)
{
    out->emplace(co_await std::move(task));
}

// The HTTP client on an I/O context pumped as in the program, with a context and one lane of its
// own. Whatever a test leaves running is cancelled and ended before the context goes.
class HttpClientFixture : public ::testing::Test
{
protected:
    // Generous for a handful of loopback exchanges at one pump tick per step.
    static constexpr int kFinishLimitMs = 5000;
    static constexpr int kDrainLimitMs = 2000;

    HttpClientFixture();
    ~HttpClientFixture() override;

    // Waits as the program's device calls wait, until done() holds or the limit has passed;
    // whether it holds.
    bool waitUntil(const std::function<bool()>& done, int limitMs = kFinishLimitMs);

    // Waits for the task and hands back its result; nothing when it did not end in time (the
    // test has then failed and the task is cancelled).
    template <class T>
    std::optional<T> finish(QCoro::Task<T> task, int limitMs = kFinishLimitMs)
    {
        std::optional<T> result;
        auto waiter = storeResult(std::move(task), &result);
        if (!waitUntil([&] { return result.has_value(); }, limitMs)) {
            ADD_FAILURE() << "the request did not end in time";
            cancelAndDrain([&] { return result.has_value(); });
        }
        return result;
    }

    // The endpoints of a loopback simulator.
    http_client::endpoints endpointsOf(const ProcessorSimulator& server);

    // Runs the tasks at once and waits until every one has ended.
    std::vector<std::optional<Result>> finishAll(std::vector<QCoro::Task<Result>> tasks, int limitMs = kFinishLimitMs);

    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard = boost::asio::make_work_guard(io);
    AsioPump pump{io};
    http_client::cancel_set registrations;
    http_client::context ctx{io, &registrations};
    http_client::lane line;

private:
    IoEventLoop m_loop{io, [this] { http_client::cancel_all(ctx); }};

    void cancelAndDrain(const std::function<bool()>& ended);
};

void expectStatus(const std::optional<Result>& result, unsigned status);
void expectError(const std::optional<Result>& result, boost::system::error_code expected);
