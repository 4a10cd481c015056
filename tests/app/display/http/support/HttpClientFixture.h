#pragma once

#include "display/http/http_client.h"
#include "display/http/http_client_cancel_registration.h"
#include "display/http/http_client_lanes.h"
#include "shell/AsioPump.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include <QTest>

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

    // Waits for the task and hands back its result; nothing when it did not end in time (the
    // test has then failed and the task is cancelled).
    template <class T>
    std::optional<T> finish(QCoro::Task<T> task)
    {
        std::optional<T> result;
        auto waiter = storeResult(std::move(task), &result);
        if (!QTest::qWaitFor([&] { return result.has_value(); }, kFinishLimitMs)) {
            ADD_FAILURE() << "the request did not end in time";
            cancelAndDrain([&] { return result.has_value(); });
        }
        return result;
    }

    // Runs the tasks at once and waits until every one has ended.
    std::vector<std::optional<Result>> finishAll(std::vector<QCoro::Task<Result>> tasks, int limitMs = kFinishLimitMs);

    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard = boost::asio::make_work_guard(io);
    AsioPump pump{io};
    http_client::cancel_set registrations;
    http_client::context ctx{io, &registrations};
    http_client::lane line;

private:
    void cancelAndDrain(const std::function<bool()>& ended);
};

void expectStatus(const std::optional<Result>& result, unsigned status);
void expectError(const std::optional<Result>& result, boost::system::error_code expected);
