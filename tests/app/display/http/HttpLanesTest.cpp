// Kept-alive connections and the lanes that carry every request to the processor, against the
// loopback simulator as an ordinary, a strict, a slow and a silent server, and as one that ends
// idle connections as it likes.
#include "support/HttpClientFixture.h"

#include "support/ProcessorSimulator.h"

#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace http = boost::beast::http;
using namespace std::chrono_literals;
using boost::system::error_code;
using Ending = ProcessorSimulator::Ending;
using IdleEnd = ProcessorSimulator::IdleEnd;
using KeepAlive = ProcessorSimulator::KeepAlive;
using Reply = ProcessorSimulator::Reply;

void expectBody(const std::optional<Result>& result, const std::string& body)
{
    expectStatus(result, 200);
    if (result && result->has_value()) {
        EXPECT_EQ(result->value().body(), body);
    }
}

class HttpLanes : public HttpClientFixture
{
protected:
    QCoro::Task<Result> get(http_client::lane& on, const ProcessorSimulator& server, std::string target)
    {
        return http_client::digest_request(ctx, on, endpointsOf(server), server.host(), http::verb::get,
                                           std::move(target), "", 0, "");
    }

    // A request of that method with a JSON body of bodySize bytes (none for a GET).
    QCoro::Task<Result> send(http_client::lane& on, const ProcessorSimulator& server, http::verb method,
                             std::string target, std::size_t bodySize = 2)
    {
        std::string body;
        if (method != http::verb::get)
            body = "{" + std::string(bodySize - 2, ' ') + "}";
        const std::size_t length = body.size();
        return http_client::digest_request(ctx, on, endpointsOf(server), server.host(), method, std::move(target),
                                           "application/json", length, std::move(body));
    }

    QCoro::Task<Result> get(http_client::lane_pool& pool, std::string target)
    {
        return pool.digest_request(resolved, simulator.host(), http::verb::get, std::move(target), "", 0, "");
    }

    std::vector<QCoro::Task<Result>> gets(http_client::lane_pool& pool, std::size_t count, const std::string& prefix)
    {
        std::vector<QCoro::Task<Result>> tasks;
        for (std::size_t i = 0; i < count; ++i)
            tasks.push_back(get(pool, prefix + std::to_string(i)));
        return tasks;
    }

    std::size_t sentTo(const ProcessorSimulator& server, const std::string& target) const
    {
        std::size_t sent = 0;
        for (const auto& request : server.requests())
            sent += request.target == target ? 1 : 0;
        return sent;
    }

    ProcessorSimulator simulator;
    http_client::endpoints resolved = endpointsOf(simulator);
};

TEST_F(HttpLanes, AConnectionIsKeptOnlyWhileTheServerKeepsIt)
{
    struct Case
    {
        const char* name;
        KeepAlive keepAlive;
        std::size_t connections;
    };
    const Case cases[] = {
        {"kept", KeepAlive::On, 1},
        {"Connection: close", KeepAlive::Off, 3},
        {"closed between requests", KeepAlive::Dropped, 3},
    };
    for (const Case& c : cases) {
        ProcessorSimulator server;
        server.setKeepAlive(c.keepAlive);
        server.setRoute("GET", "/a", Reply::json("{}"));
        http_client::lane fresh;
        for (int i = 0; i < 3; ++i)
            expectStatus(finish(get(fresh, server, "/a")), 200);
        EXPECT_EQ(server.connections().accepted, c.connections) << c.name;
        EXPECT_EQ(server.requestCount(), 3u) << c.name << ": nothing went twice";
        // The client closes its side on "Connection: close"; a close it was not told of shows
        // only at the next request.
        if (c.keepAlive != KeepAlive::Dropped) {
            EXPECT_EQ(fresh.connected(), c.keepAlive == KeepAlive::On) << c.name;
        }
    }
}

// A request that met a kept connection's end before any of its reply goes again, once, on a new
// connection, only when it may be repeated: the server may have read and acted on it.
TEST_F(HttpLanes, OnlyARepeatableRequestAKeptConnectionLostBeforeItsReplyGoesAgain)
{
    struct Case
    {
        const char* name;
        bool kept; // the request goes on a connection an earlier exchange used
        http::verb method;
        std::vector<Reply> replies;
        error_code expected; // none: the second reply arrives
        std::size_t sent;
    };
    const Reply closes = Reply::withEnding(Ending::CloseWithoutAnswer);
    const Reply half = Reply::withEnding(Ending::TruncatedBody);
    const Reply silent = Reply::withEnding(Ending::NeverAnswer);
    constexpr http::verb kGet = http::verb::get;
    constexpr http::verb kPost = http::verb::post;
    const Case cases[] = {
        {"kept, closed before the reply", true, kGet, {closes, Reply::json("{}")}, {}, 2},
        {"kept, closed before the reply twice", true, kGet, {closes}, http::error::end_of_stream, 2},
        {"kept, POST closed before the reply", true, kPost, {closes, Reply::json("{}")}, http::error::end_of_stream, 1},
        {"kept, half a reply", true, kGet, {half}, http::error::partial_message, 1},
        {"kept, no reply at all", true, kGet, {silent}, boost::beast::error::timeout, 1},
        {"new, closed before the reply", false, kGet, {closes}, http::error::end_of_stream, 1},
    };
    // Ordinary replies come within it however busy the machine.
    ctx.time_limit = 1s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessorSimulator server;
        const std::string verb(http::to_string(c.method));
        server.setRoute("GET", "/warm", Reply::json("{}"));
        server.setRoute(verb, "/a", c.replies);
        http_client::lane fresh;
        if (c.kept)
            expectStatus(finish(get(fresh, server, "/warm")), 200);

        const auto result = finish(send(fresh, server, c.method, "/a"));
        if (c.expected)
            expectError(result, c.expected);
        else
            expectStatus(result, 200);
        EXPECT_EQ(sentTo(server, "/a"), c.sent);
        EXPECT_EQ(server.connections().accepted, c.sent);
    }
}

// A server ends a kept connection's idle time as it likes: silently, with a 408 as it closes, or
// with a stray reply. The client sees it before it sends the next request there, whatever the
// method, and never takes what the server sent unasked for a reply.
TEST_F(HttpLanes, AConnectionTheServerEndedWhileIdleCarriesNoFurtherRequest)
{
    // Far beyond a loopback exchange on a busy machine: the server ends only the idle time the
    // test waits through.
    constexpr auto kIdle = 300ms;
    const std::pair<const char*, IdleEnd> ends[] = {
        {"silent close", IdleEnd::Close},
        {"408, then close", IdleEnd::Timeout408},
        {"stray reply", IdleEnd::StrayReply},
    };
    for (const auto& [name, end] : ends) {
        for (const http::verb method : {http::verb::get, http::verb::post}) {
            const std::string verb(http::to_string(method));
            SCOPED_TRACE(std::string(name) + ", " + verb);
            ProcessorSimulator server;
            server.requireDigest();
            server.setRoute("GET", "/first", Reply::json("1"));
            server.setRoute(verb, "/second", Reply::json("2"));
            server.setRoute(verb, "/third", Reply::json("3"));
            server.setIdleEnd(end, kIdle);
            http_client::lane kept;
            expectBody(finish(get(kept, server, "/first")), "1");
            ASSERT_TRUE(waitUntil([&server] { return server.idleEnds() >= 1; }));

            expectBody(finish(send(kept, server, method, "/second")), "2");
            expectBody(finish(send(kept, server, method, "/third")), "3");
            EXPECT_EQ(server.accepted(verb, "/second").size(), 1u);
            EXPECT_EQ(server.accepted(verb, "/third").size(), 1u);
        }
    }
}

// The server's idle limit runs out just as a request arrives on the kept connection. A request
// answered 408 crossed the close unread, and one whose connection ended while it was still being
// written never arrived whole: either goes again, on a new connection, whatever its method. One
// met only by the close may have been read: a GET goes again, a POST fails rather than risk being
// acted on twice. A stray reply crossing a request cannot be told from its answer, but the answer
// it displaced is never taken by the next request.
TEST_F(HttpLanes, ARequestCrossingTheServersIdleEndGoesAgainOnlyWhenTheServerCannotHaveActedOnIt)
{
    // Far more than the socket buffers hold: the write is still going when the server closes.
    constexpr std::size_t kLongBody = 16 << 20;
    struct Case
    {
        const char* name;
        IdleEnd end;
        http::verb method;
        std::optional<unsigned> status; // none: the request fails
        std::size_t acted;              // how often the server read it whole
        std::size_t bodySize = 2;
        bool strict = false; // a nonce per connection: the new connection needs a new challenge
    };
    constexpr http::verb kGet = http::verb::get;
    constexpr http::verb kPost = http::verb::post;
    const Case cases[] = {
        {"408 crossing a GET", IdleEnd::Timeout408, kGet, 200, 1},
        {"408 crossing a POST", IdleEnd::Timeout408, kPost, 200, 1},
        {"408 crossing a GET, strict server", IdleEnd::Timeout408, kGet, 200, 1, 2, true},
        {"close crossing a GET", IdleEnd::Close, kGet, 200, 1},
        {"close crossing a POST", IdleEnd::Close, kPost, std::nullopt, 0},
        {"close crossing a long POST's write", IdleEnd::Close, kPost, 200, 1, kLongBody},
        {"stray reply crossing a GET", IdleEnd::StrayReply, kGet, ProcessorSimulator::kStrayStatus, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string verb(http::to_string(c.method));
        ProcessorSimulator server;
        ProcessorSimulator::Digest digest;
        digest.strict = c.strict;
        server.requireDigest(digest);
        server.setRoute("GET", "/warm", Reply::json("warm"));
        server.setRoute(verb, "/raced", Reply::json("raced"));
        server.setRoute(verb, "/next", Reply::json("next"));
        http_client::lane kept;
        expectBody(finish(get(kept, server, "/warm")), "warm");

        server.raceNextRequest(c.end);
        const auto raced = finish(send(kept, server, c.method, "/raced", c.bodySize));
        if (c.status) {
            expectStatus(raced, *c.status);
        } else {
            ASSERT_TRUE(raced.has_value());
            EXPECT_FALSE(raced->has_value()) << "status " << raced->value().result_int();
        }
        // The server has ended the idle time once, read the request as often as it should, and
        // answered every request it read, before the next request.
        const auto settled = [&] {
            return server.idleEnds() == 1 && server.accepted(verb, "/raced").size() == c.acted
                && server.repliesSent() == server.requestCount();
        };
        EXPECT_TRUE(waitUntil(settled)) << server.idleEnds() << " idle ends; read "
                                        << server.accepted(verb, "/raced").size() << " times";
        expectBody(finish(send(kept, server, c.method, "/next")), "next");
    }
}

// A strict server gives each connection a nonce of its own and wants each nonce's requests
// counted 1, 2, 3 ... in the order they arrive; it serves no more connections than the lanes.
TEST_F(HttpLanes, EachLaneAnswersItsOwnChallengeAndCountsInTheOrderItWrites)
{
    constexpr std::size_t kLanes = 3;
    ProcessorSimulator::Digest strict;
    strict.strict = true;
    simulator.requireDigest(strict);
    simulator.setConnectionLimit(kLanes);
    http_client::lane_pool pool(ctx, kLanes);

    const auto results = finishAll(gets(pool, 30, "/a?"));
    for (const auto& result : results)
        expectStatus(result, 404); // authenticated; no route

    const ProcessorSimulator::Connections connections = simulator.connections();
    EXPECT_EQ(connections.accepted, kLanes);
    EXPECT_EQ(connections.refused, 0u);
    std::map<std::size_t, std::vector<std::string>> counts;
    std::map<std::size_t, std::set<std::string>> nonces;
    std::size_t refused = 0;
    for (const auto& request : simulator.requests()) {
        if (!request.authorized) {
            ++refused;
            continue;
        }
        counts[request.connection].push_back(request.authParam("nc"));
        nonces[request.connection].insert(request.authParam("nonce"));
    }
    EXPECT_EQ(refused, kLanes) << "one challenge per connection";
    std::set<std::string> distinct;
    for (const auto& [connection, sequence] : counts) {
        for (std::size_t i = 0; i < sequence.size(); ++i) {
            char expected[24];
            std::snprintf(expected, sizeof expected, "%08zx", i + 1);
            EXPECT_EQ(sequence[i], expected) << "connection " << connection;
        }
        ASSERT_EQ(nonces[connection].size(), 1u);
        distinct.insert(*nonces[connection].begin());
    }
    EXPECT_EQ(distinct.size(), kLanes);
}

// A server that works on one request at a time: the exchanges wait for a lane, in order, and
// their time limit runs only from their write, so all of them end well although the queue lasts
// far longer than the limit.
TEST_F(HttpLanes, AQueueBehindASlowServerKeepsItsOrderAndItsTimeLimits)
{
    constexpr auto kPerRequest = 60ms;
    constexpr std::size_t kRequests = 30;
    simulator.setSlow(kPerRequest);
    // An exchange needs two of the server's turns from its write; the rest of the limit is room
    // for a busy machine.
    ctx.time_limit = 1s;
    http_client::lane_pool pool(ctx, 2);

    const auto results = finishAll(gets(pool, kRequests, "/s?"));
    for (const auto& result : results)
        expectStatus(result, 404); // answered; no route

    const auto log = simulator.requests();
    ASSERT_EQ(log.size(), kRequests);
    for (std::size_t i = 0; i < kRequests; ++i)
        EXPECT_EQ(log[i].target, "/s?" + std::to_string(i));
    // The server's pace alone puts the last request far more than a limit after the first.
    EXPECT_GT(log.back().received - log.front().received, ctx.time_limit);
}

// Every lane stuck on a server that never answers: the exchanges waiting behind them give up
// with them, not one lane's time limit after another, and never reach the server.
TEST_F(HttpLanes, WaitingExchangesEndWhenNoLaneGetsAnAnswerWithinTheLimit)
{
    constexpr auto kLimit = 400ms;
    constexpr std::size_t kLanes = 2;
    constexpr std::size_t kRequests = 20;
    simulator.setRoute("GET", "/silent", Reply::withEnding(Ending::NeverAnswer));
    ctx.time_limit = kLimit;
    http_client::lane_pool pool(ctx, kLanes);

    std::vector<QCoro::Task<Result>> tasks;
    for (std::size_t i = 0; i < kRequests; ++i)
        tasks.push_back(get(pool, "/silent"));
    QElapsedTimer clock;
    clock.start();
    const auto results = finishAll(std::move(tasks));
    for (const auto& result : results)
        expectError(result, boost::beast::error::timeout);
    EXPECT_EQ(simulator.requestCount(), kLanes) << "a waiting exchange had a lane";
    // One after another they would take kRequests / kLanes limits.
    EXPECT_LT(clock.elapsed(), std::chrono::milliseconds(kLimit * (kRequests / kLanes)).count());
}

TEST_F(HttpLanes, CancellingEndsTheExchangesInFlightAndTheWaitingOnes)
{
    simulator.setRoute("GET", "/silent", Reply::withEnding(Ending::NeverAnswer));
    http_client::lane_pool pool(ctx, 1);
    std::vector<std::optional<Result>> results(4);
    std::vector<QCoro::Task<void>> waiters;
    for (auto& result : results)
        waiters.push_back(storeResult(get(pool, "/silent"), &result));
    ASSERT_TRUE(waitUntil([this] { return simulator.requestCount() == 1; }, kFinishLimitMs));
    EXPECT_EQ(registrations.size(), 4u);

    http_client::cancel_all(ctx);
    ASSERT_TRUE(waitUntil(
        [&] { return std::all_of(results.begin(), results.end(), [](const auto& r) { return r.has_value(); }); },
        kFinishLimitMs));
    for (const auto& result : results)
        expectError(result, boost::asio::error::operation_aborted);
    EXPECT_TRUE(registrations.empty());
    EXPECT_EQ(simulator.requestCount(), 1u);
}

} // namespace
