#include "HttpClientFixture.h"

#include <algorithm>
#include <string>

HttpClientFixture::HttpClientFixture()
{
    pump.start();
    ctx.username = "admin";
    ctx.password = "secret";
}

HttpClientFixture::~HttpClientFixture()
{
    // Whatever a failed test left running ends before the context goes.
    http_client::cancel_all(ctx);
    if (!waitUntil([this] { return registrations.empty(); }, kDrainLimitMs))
        ADD_FAILURE() << "requests were still running at the end of the test";
}

http_client::endpoints HttpClientFixture::endpointsOf(const ProcessorSimulator& server)
{
    return boost::asio::ip::tcp::resolver(io).resolve(server.host(), std::to_string(server.port()));
}

bool HttpClientFixture::waitUntil(const std::function<bool()>& done, int limitMs)
{
    const QDeadlineTimer deadline(limitMs);
    m_loop.runUntil([&] { return done() || deadline.hasExpired(); });
    return done();
}

std::vector<std::optional<Result>> HttpClientFixture::finishAll(std::vector<QCoro::Task<Result>> tasks, int limitMs)
{
    std::vector<std::optional<Result>> results(tasks.size());
    std::vector<QCoro::Task<void>> waiters;
    for (std::size_t i = 0; i < tasks.size(); ++i)
        waiters.push_back(storeResult(std::move(tasks[i]), &results[i]));
    const auto allEnded = [&results] {
        return std::all_of(results.begin(), results.end(), [](const auto& r) { return r.has_value(); });
    };
    if (!waitUntil(allEnded, limitMs)) {
        ADD_FAILURE() << "the requests did not end in time";
        cancelAndDrain(allEnded);
    }
    return results;
}

void HttpClientFixture::cancelAndDrain(const std::function<bool()>& ended)
{
    http_client::cancel_all(ctx);
    if (!waitUntil(ended, kDrainLimitMs))
        ADD_FAILURE() << "the requests did not end when cancelled";
}

void expectStatus(const std::optional<Result>& result, unsigned status)
{
    ASSERT_TRUE(result.has_value());
    ASSERT_TRUE(result->has_value()) << result->error().message();
    EXPECT_EQ(result->value().result_int(), status);
}

void expectError(const std::optional<Result>& result, boost::system::error_code expected)
{
    ASSERT_TRUE(result.has_value());
    ASSERT_FALSE(result->has_value()) << "status " << result->value().result_int();
    EXPECT_EQ(result->error(), expected) << result->error().message();
}
