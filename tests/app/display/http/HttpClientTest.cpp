#include "support/HttpClientFixture.h"

#include "display/http/http_client_awaitables.h"
#include "support/ProcessorSimulator.h"

#include "support/MessageCapture.h"

#include <boost/asio/error.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/ostream.hpp>
#include <boost/beast/http/error.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace {

namespace http = boost::beast::http;
using namespace std::chrono_literals;
using boost::system::error_code;
using Ending = ProcessorSimulator::Ending;
using Reply = ProcessorSimulator::Reply;

QCoro::Task<Result> noteResumingThread(QCoro::Task<Result> task, QThread** thread)
{
    Result result = co_await std::move(task);
    *thread = QThread::currentThread();
    co_return result;
}

// A listener whose backlog is full: further connection attempts get no answer at all, so a
// connect stays pending until it is cancelled or times out.
class FullBacklogListener
{
public:
    explicit FullBacklogListener(boost::asio::io_context& io)
        : m_acceptor(io)
        , m_filler(io)
    {
        m_acceptor.open(boost::asio::ip::tcp::v4());
        m_acceptor.bind({boost::asio::ip::make_address("127.0.0.1"), 0});
        m_acceptor.listen(0);
        m_filler.connect(m_acceptor.local_endpoint());
    }
    http_client::endpoints endpoints() const
    {
        const auto ep = m_acceptor.local_endpoint();
        return http_client::endpoints::create(ep, "127.0.0.1", std::to_string(ep.port()));
    }

private:
    boost::asio::ip::tcp::acceptor m_acceptor;
    boost::asio::ip::tcp::socket m_filler;
};

class HttpClient : public HttpClientFixture
{
protected:
    QCoro::Task<Result> get(http_client::context& c, http_client::lane& l, const http_client::endpoints& to,
                            std::string target)
    {
        return http_client::digest_request(c, l, to, ProcessorSimulator::host(), http::verb::get, std::move(target),
                                           "application/json", 0, "");
    }
    QCoro::Task<Result> get(std::string target) { return get(ctx, line, resolved, std::move(target)); }

    std::optional<Result> getNow(std::string target) { return finish(get(std::move(target))); }

    ProcessorSimulator simulator;
    http_client::endpoints resolved = endpointsOf(simulator);
};

constexpr const char* kData = "/api/v1/data?dev.receivers&sys.fixtures";

TEST_F(HttpClient, AnswersTheFirstChallengeAndResumesOnTheGuiThread)
{
    simulator.requireDigest();
    simulator.setRoute("GET", kData, Reply::json(R"({"dev":{}})"));

    QThread* resumedOn = nullptr;
    const auto result = finish(noteResumingThread(get(kData), &resumedOn));

    expectStatus(result, 200);
    EXPECT_EQ(result->value().body(), R"({"dev":{}})");
    EXPECT_EQ(resumedOn, QCoreApplication::instance()->thread());
    EXPECT_TRUE(registrations.empty());

    const auto log = simulator.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(log[0].header("Authorization"));
    EXPECT_FALSE(log[0].authorized);
    EXPECT_TRUE(log[1].authorized);
    EXPECT_NE(simulator.nonce().find('='), std::string::npos); // a base64 nonce went through whole
    EXPECT_EQ(log[1].authParam("nc"), "00000001");
    EXPECT_EQ(log[1].authParam("uri"), kData);
    EXPECT_EQ(log[1].authParam("cnonce"), line.digest.cnonce);
    for (const auto& request : log) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.target, kData);
        EXPECT_EQ(request.header("Host"), "127.0.0.1");
        EXPECT_EQ(request.header("User-Agent"), "Boost.Beast/357");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        EXPECT_FALSE(request.header("Content-Length"));
        EXPECT_FALSE(request.header("Connection"));
        EXPECT_FALSE(request.header("Accept"));
        EXPECT_EQ(request.body, "");
    }
}

TEST_F(HttpClient, LaterRequestsAuthenticateFromTheStartAndFollowANewNonce)
{
    simulator.requireDigest();
    simulator.setRoute("GET", "/a", Reply::json("{}"));
    expectStatus(getNow("/a"), 200);
    const std::string cnonce = line.digest.cnonce;

    expectStatus(getNow("/a"), 200);
    auto log = simulator.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_TRUE(log[2].authorized);
    EXPECT_EQ(log[2].authParam("nc"), "00000002");
    EXPECT_EQ(log[2].authParam("cnonce"), cnonce);

    const std::string oldNonce = simulator.nonce();
    simulator.rotateNonce();
    expectStatus(getNow("/a"), 200);
    log = simulator.requests();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_FALSE(log[3].authorized);
    EXPECT_EQ(log[3].authParam("nonce"), oldNonce);
    EXPECT_TRUE(log[4].authorized);
    EXPECT_EQ(log[4].authParam("nonce"), simulator.nonce());
    // A new nonce is counted from 1, as a server that checks its counts expects.
    EXPECT_EQ(log[4].authParam("nc"), "00000001");
    EXPECT_EQ(log[4].authParam("cnonce"), cnonce);
    // All of it on one kept connection.
    EXPECT_EQ(simulator.connections().accepted, 1u);
}

TEST_F(HttpClient, AWrongPasswordEndsWithTheSecond401AsAResponse)
{
    simulator.requireDigest();
    simulator.setRoute("GET", "/a", Reply::json("{}"));
    ctx.password = "wrong";

    expectStatus(getNow("/a"), 401);
    const auto log = simulator.requests();
    ASSERT_EQ(log.size(), 2u); // no third attempt
    EXPECT_TRUE(log[1].header("Authorization"));
    EXPECT_FALSE(log[1].authorized);
}

// A lane keeps the part of its answers made from the credentials and the realm. A server that
// changes its realm is answered afresh after its first challenge, and credentials changed on both
// sides from the first request on; an answer kept from the old ones would get a second 401.
TEST_F(HttpClient, AnAnswerFollowsANewRealmAndNewCredentials)
{
    struct Case
    {
        const char* name;
        std::function<void(ProcessorSimulator::Digest&)> change;
        std::size_t requests; // for the first exchange after the change
        std::string username = "admin";
        std::string password = "secret";
    };
    const Case cases[] = {
        {"realm", [](auto& d) { d.realm = "Kestra-2"; }, 2},
        {"realm differing in case only", [](auto& d) { d.realm = "kestra"; }, 2},
        {"password", [](auto& d) { d.password = "secret-2"; }, 1, "admin", "secret-2"},
        {"user name", [](auto& d) { d.username = "operator"; }, 1, "operator"},
        {"all three", [](auto& d) { d.username = "operator"; d.realm = "Kestra-2"; d.password = "secret-2"; }, 2,
         "operator", "secret-2"},
    };
    simulator.setRoute("GET", "/a", Reply::json("{}"));
    for (const Case& c : cases) {
        simulator.requireDigest();
        ctx.username = "admin";
        ctx.password = "secret";
        expectStatus(getNow("/a"), 200); // the lane's answers are made from the first credentials
        expectStatus(getNow("/a"), 200);

        ProcessorSimulator::Digest changed;
        c.change(changed);
        simulator.requireDigest(changed);
        ctx.username = c.username;
        ctx.password = c.password;
        const std::size_t before = simulator.requestCount();
        expectStatus(getNow("/a"), 200);
        const auto log = simulator.requests();
        ASSERT_EQ(log.size(), before + c.requests) << c.name;
        EXPECT_TRUE(log.back().authorized) << c.name;
        EXPECT_EQ(log.back().authParam("realm"), changed.realm) << c.name;

        expectStatus(getNow("/a"), 200); // and the new answer is kept in turn
        EXPECT_EQ(simulator.requestCount(), before + c.requests + 1) << c.name;
    }
}

// A server whose password changed refuses the kept answer; once the operator's password is
// corrected, the next exchange is answered with it, whatever was refused before.
TEST_F(HttpClient, ARefusedAnswerGivesWayToCorrectedCredentials)
{
    simulator.requireDigest();
    simulator.setRoute("GET", "/a", Reply::json("{}"));
    expectStatus(getNow("/a"), 200);

    ProcessorSimulator::Digest changed;
    changed.password = "secret-2";
    simulator.requireDigest(changed);
    expectStatus(getNow("/a"), 401);
    expectStatus(getNow("/a"), 401);

    ctx.password = "secret-2";
    expectStatus(getNow("/a"), 200);
    EXPECT_TRUE(simulator.requests().back().authorized);

    // Back to the first password on both sides: the answer of the first is not stale.
    simulator.requireDigest();
    ctx.password = "secret";
    expectStatus(getNow("/a"), 200);
    EXPECT_TRUE(simulator.requests().back().authorized);
}

TEST_F(HttpClient, AnswersEveryStandardChallengeForm)
{
    struct Case
    {
        const char* name;
        std::function<void(ProcessorSimulator::Digest&)> configure;
        std::string username = "admin";
    };
    const Case cases[] = {
        {"qop list", [](auto& d) { d.qop = "auth,auth-int"; }},
        {"qop list, auth last", [](auto& d) { d.qop = "auth-int, auth"; }},
        {"no qop", [](auto& d) { d.qop.clear(); }},
        {"no opaque", [](auto& d) { d.opaque.reset(); }},
        {"empty opaque", [](auto& d) { d.opaque = ""; }},
        {"explicit MD5", [](auto& d) { d.algorithm = "MD5"; }},
        {"quotes in realm and user name", [](auto& d) { d.realm = R"(Kes"tra\1)"; d.username = R"(ad"min\)"; },
         R"(ad"min\)"},
    };
    for (const Case& c : cases) {
        ProcessorSimulator::Digest digest;
        c.configure(digest);
        simulator.requireDigest(digest);
        simulator.setRoute("GET", "/a", Reply::json("{}"));
        http_client::context fresh{io, &registrations};
        fresh.username = c.username;
        fresh.password = "secret";
        http_client::lane freshLane;

        const auto result = finish(get(fresh, freshLane, resolved, "/a"));
        expectStatus(result, 200);
        EXPECT_TRUE(simulator.requests().back().authorized) << c.name;
    }
}

TEST_F(HttpClient, ChallengesItCannotAnswerEndWithNeedMore)
{
    struct Case
    {
        const char* name;
        std::function<void(ProcessorSimulator&)> configure;
        const char* logLine;
    };
    const Case cases[] = {
        {"401 without a challenge",
         [](ProcessorSimulator& s) {
             s.allowAnonymous();
             s.setRoute("GET", "/a", Reply::text("denied", 401));
         },
         "No WWW-Authenticate header found in response"},
        {"Basic offered first",
         [](ProcessorSimulator& s) {
             ProcessorSimulator::Digest digest;
             digest.challengesBefore = {R"(Basic realm="Kestra")"};
             s.requireDigest(digest);
         },
         R"(Invalid WWW-Authenticate header: Basic realm="Kestra")"},
        {"SHA-256 only",
         [](ProcessorSimulator& s) {
             ProcessorSimulator::Digest digest;
             digest.algorithm = "SHA-256";
             s.requireDigest(digest);
         },
         "Unsupported algorithm: SHA-256"},
    };
    for (const Case& c : cases) {
        ProcessorSimulator server;
        c.configure(server);
        http_client::lane other;
        MessageCapture capture;
        const auto result = finish(http_client::digest_request(ctx, other, endpointsOf(server), server.host(),
                                                               http::verb::get, "/a", "", 0, ""));
        expectError(result, http::error::need_more);
        EXPECT_EQ(server.requestCount(), 1u) << c.name;
        EXPECT_TRUE(capture.contains(QString::fromUtf8(c.logLine))) << c.name;
    }
}

TEST_F(HttpClient, SendsABodyOnlyWithALength)
{
    simulator.setRoute("PATCH", "/api/v1/data", Reply::json("", 204));
    simulator.setRoute("POST", "/api/v1/tile/T1/0/cal?raw&continuation=false", Reply::json("", 200));

    const std::string json = R"({"dev":{"ingest":{}}})";
    expectStatus(finish(http_client::digest_request(ctx, line, resolved, simulator.host(), http::verb::patch, "/api/v1/data",
                                                    "application/json", json.size(), json)),
                 204);
    expectStatus(finish(http_client::digest_request(ctx, line, resolved, simulator.host(), http::verb::patch, "/api/v1/data",
                                                    "application/json", 0, "left out")),
                 204);

    std::string mesh(100'000, '\0');
    for (std::size_t i = 0; i < mesh.size(); ++i)
        mesh[i] = char(i * 31);
    boost::beast::multi_buffer buffer;
    boost::beast::ostream(buffer) << mesh;
    expectStatus(finish(http_client::digest_request(ctx, line, resolved, simulator.host(), http::verb::post,
                                                    "/api/v1/tile/T1/0/cal?raw&continuation=false",
                                                    "application/octet-stream", mesh.size(), buffer)),
                 200);

    const auto log = simulator.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].body, json);
    EXPECT_EQ(log[0].header("Content-Length"), std::to_string(json.size()));
    EXPECT_EQ(log[1].body, "");
    // Standard servers want a length on every request of a method that carries a body.
    EXPECT_EQ(log[1].header("Content-Length"), "0");
    EXPECT_EQ(log[1].header("Content-Type"), "application/json");
    EXPECT_EQ(log[2].body, mesh);
    EXPECT_EQ(log[2].header("Content-Type"), "application/octet-stream");

    // A length that does not match the body would corrupt the exchange: nothing is sent.
    expectError(finish(http_client::digest_request(ctx, line, resolved, simulator.host(), http::verb::patch, "/api/v1/data",
                                                   "application/json", json.size() + 1, json)),
                http::error::bad_content_length);
    EXPECT_EQ(simulator.requestCount(), 3u);
}

TEST_F(HttpClient, ReturnsEveryOtherStatusAsAResponse)
{
    simulator.setRoute("GET", "/api/v1/tile/T1/calBusy",
                       {Reply::text("broken", 500), Reply::text("busy"), Reply::text("idle")});
    const std::pair<unsigned, const char*> expected[] = {{500, "broken"}, {200, "busy"}, {200, "idle"}, {200, "idle"}};
    for (const auto& [status, body] : expected) {
        const auto result = getNow("/api/v1/tile/T1/calBusy");
        expectStatus(result, status);
        EXPECT_EQ(result->value().body(), body);
    }
    expectStatus(getNow("/nowhere"), 404);
}

TEST_F(HttpClient, RefusesControlCharactersFromOperatorInput)
{
    struct Case
    {
        const char* name;
        std::string host = "127.0.0.1";
        std::string target = "/api/v1/data";
        std::string contentType = "application/json";
        std::string username = "admin";
        error_code expected;
    };
    const Case cases[] = {
        {"host", "127.0.0.1\r\nX-Injected: 1", "/api/v1/data", "application/json", "admin", http::error::bad_value},
        {"target", "127.0.0.1", "/api/v1/tile/T1\r\nX-Injected: 1/calBusy", "application/json", "admin",
         http::error::bad_target},
        {"blank in target", "127.0.0.1", "/api/v1/tile/T 1/calBusy", "application/json", "admin",
         http::error::bad_target},
        {"content type", "127.0.0.1", "/api/v1/data", "text/plain\nX-Injected: 1", "admin", http::error::bad_value},
        {"user name", "127.0.0.1", "/api/v1/data", "application/json", "admin\r\nX-Injected: 1",
         http::error::bad_value},
        // A tab is whitespace inside a field's value only.
        {"tab in target", "127.0.0.1", "/api/v1/tile/T1\t/calBusy", "application/json", "admin",
         http::error::bad_target},
        {"tab in user name", "127.0.0.1", "/api/v1/data", "application/json", "ad\tmin", http::error::bad_value},
        {"DEL in host", "127.0.0.1\x7f", "/api/v1/data", "application/json", "admin", http::error::bad_value},
        {"DEL in content type", "127.0.0.1", "/api/v1/data", "text/plain\x7f", "admin", http::error::bad_value},
    };
    for (const Case& c : cases) {
        ctx.username = c.username;
        const auto result = finish(http_client::digest_request(ctx, line, resolved, c.host, http::verb::get, c.target,
                                                               c.contentType, 0, ""));
        expectError(result, c.expected);
        EXPECT_EQ(simulator.requestCount(), 0u) << c.name;
    }
}

TEST_F(HttpClient, SendsATabInsideAFieldValue)
{
    simulator.setRoute("GET", "/a", Reply::json("{}"));
    const auto result = finish(http_client::digest_request(ctx, line, resolved, "127.0.0.1", http::verb::get, "/a",
                                                           "application/json;\tcharset=utf-8", 0, ""));
    expectStatus(result, 200);
    EXPECT_EQ(simulator.requests().back().header("Content-Type"), "application/json;\tcharset=utf-8");
}

TEST_F(HttpClient, PeersThatBreakOffEndWithAnError)
{
    const std::pair<Ending, error_code> cases[] = {
        {Ending::CloseWithoutAnswer, http::error::end_of_stream},
        {Ending::TruncatedBody, http::error::partial_message},
    };
    for (const auto& [ending, expected] : cases) {
        Reply reply = Reply::json(R"({"dev":{"receivers":{}}})");
        reply.ending = ending;
        simulator.setRoute("GET", "/a", reply);
        expectError(getNow("/a"), expected);
        EXPECT_TRUE(registrations.empty());
    }
}

// Hostile or broken servers send a header and the first body bytes in one write, as real ones
// do: the limit must hold then too, whatever the body's framing, and nothing is reserved for a
// body that was only announced.
std::string rawResponse(const std::string& framing, const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + framing + "\r\n" + body;
}

std::string chunked(std::size_t total)
{
    constexpr std::size_t kChunk = 64 * 1024;
    std::string text;
    for (std::size_t sent = 0; sent < total; sent += kChunk)
        text += "10000\r\n" + std::string(kChunk, 'x') + "\r\n";
    return text + "0\r\n\r\n";
}

TEST_F(HttpClient, ResponseBodiesOverTheLimitEndWithBodyLimit)
{
    constexpr int kLargeTransferLimitMs = 30000;
    const std::size_t over = http_client::kResponseBodyLimit + 1024 * 1024;
    const struct
    {
        const char* name;
        std::string raw;
    } cases[] = {
        {"declared 10^12 bytes", rawResponse("Content-Length: 1000000000000\r\n", std::string(1000, 'x'))},
        {"declared 50 MB, a few sent", rawResponse("Content-Length: 52428800\r\n", std::string(1000, 'x'))},
        {"chunked past the limit", rawResponse("Transfer-Encoding: chunked\r\n", chunked(over))},
        {"close-delimited past the limit", rawResponse("Connection: close\r\n", std::string(over, 'x'))},
    };
    for (const auto& c : cases) {
        Reply reply = Reply::withEnding(Ending::Raw);
        reply.body = c.raw;
        simulator.setRoute("GET", "/a", reply);
        // Megabytes through the sanitizers on a busy machine: more than a handful of exchanges.
        expectError(finish(get("/a"), kLargeTransferLimitMs), http::error::body_limit);
        EXPECT_TRUE(registrations.empty()) << c.name;
    }
}

TEST_F(HttpClient, BodiesWithinTheLimitAreReadWhateverTheirFraming)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Transfer-Encoding: chunked\r\n", "2\r\n{}\r\n0\r\n\r\n"},
        {"Connection: close\r\n", "{}"},
        {"Content-Length: 2\r\n", "{}"},
    };
    for (const auto& [framing, body] : cases) {
        Reply reply = Reply::withEnding(Ending::Raw);
        reply.body = rawResponse(framing, body);
        simulator.setRoute("GET", "/a", reply);
        const auto result = getNow("/a");
        expectStatus(result, 200);
        if (result && result->has_value()) {
            EXPECT_EQ(result->value().body(), "{}") << framing;
        }
    }
}

// An operation whose own work throws out of the I/O context's run (as Beast's body reservation
// does for an absurd announced length when nothing limits it): its handler is destroyed unrun.
struct ThrowingOperation : http_client::operation_awaitable<std::size_t>
{
    explicit ThrowingOperation(boost::asio::io_context& io)
    {
        m_start = [slot = m_result, &io](std::coroutine_handle<> h) {
            boost::asio::post(io, [handler = completion(slot, h, io.get_executor())]() mutable -> void {
                throw std::bad_alloc();
            });
        };
    }
};

QCoro::Task<http_client::expected<std::size_t, error_code>> awaitThrowing(boost::asio::io_context& io)
{
    co_return co_await ThrowingOperation(io);
}

// The waiter still gets an error, at once, instead of waiting forever for a resumption that the
// exception took away (and with it cancel and quit, which wait for the exchange to end).
TEST_F(HttpClient, AnExceptionInsideAnOperationEndsItWithAnError)
{
    MessageCapture capture;
    QElapsedTimer clock;
    clock.start();
    const auto result = finish(awaitThrowing(io));
    ASSERT_TRUE(result.has_value());
    ASSERT_FALSE(result->has_value());
    EXPECT_EQ(result->error(), http_client::exchange_failed());
    EXPECT_LT(clock.elapsed(), kFinishLimitMs);
}

TEST_F(HttpClient, ASlowAnswerWithinTheLimitIsKept)
{
    Reply reply = Reply::json("{}");
    reply.delay = 100ms;
    simulator.setRoute("GET", "/a", reply);
    ctx.time_limit = 2s;
    expectStatus(getNow("/a"), 200);
}

TEST_F(HttpClient, ASilentServerEndsWithTheTimeLimit)
{
    // The slow answer comes well within the limit however busy the machine.
    constexpr auto kLimit = 500ms;
    simulator.setRoute("GET", "/a", Reply::withEnding(Ending::NeverAnswer));
    Reply slow = Reply::json("{}");
    slow.delay = 100ms;
    simulator.setRoute("GET", "/slow", slow);
    ctx.time_limit = kLimit;

    // The lane's limit holds for each exchange after one it ended and after one that met it.
    for (const char* target : {"/a", "/slow", "/slow", "/a"}) {
        SCOPED_TRACE(target);
        QElapsedTimer clock;
        clock.start();
        const auto result = getNow(target);
        if (std::string_view(target) == "/a")
            expectError(result, boost::beast::error::timeout);
        else
            expectStatus(result, 200);
        EXPECT_LT(clock.elapsed(), 6 * kLimit.count());
    }
    EXPECT_TRUE(registrations.empty());
}

TEST_F(HttpClient, CancellingEndsEachStageWithOperationAborted)
{
    FullBacklogListener unreachable(io);
    simulator.setRoute("GET", "/silent", Reply::withEnding(Ending::NeverAnswer));
    boost::beast::multi_buffer large;
    boost::beast::ostream(large) << std::string(64 << 20, 'x'); // far more than the socket buffers hold

    struct Stage
    {
        const char* name;
        std::function<QCoro::Task<Result>()> start;
        std::function<bool()> reached;
    };
    const Stage stages[] = {
        {"connect",
         [&] {
             return http_client::digest_request(ctx, line, unreachable.endpoints(), "127.0.0.1", http::verb::get, "/",
                                                "", 0, "");
         },
         [&] { return registrations.size() == 1; }},
        {"write",
         [&] {
             simulator.setStalled(true);
             return http_client::digest_request(ctx, line, resolved, simulator.host(), http::verb::post, "/upload",
                                                "application/octet-stream", large.size(), large);
         },
         [&] { return simulator.stalledBytes() > 0; }},
        {"read",
         [&] {
             simulator.setStalled(false);
             return get("/silent");
         },
         [&] { return simulator.requestCount() == 1; }},
    };
    for (const Stage& stage : stages) {
        std::optional<Result> result;
        auto waiter = storeResult(stage.start(), &result);
        ASSERT_TRUE(waitUntil(stage.reached, kFinishLimitMs)) << stage.name;
        EXPECT_FALSE(result.has_value()) << stage.name;

        http_client::cancel_all(ctx);
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); }, kFinishLimitMs)) << stage.name;
        expectError(result, boost::asio::error::operation_aborted);
        EXPECT_TRUE(registrations.empty()) << stage.name;
    }
}

TEST_F(HttpClient, AnEmptyEndpointListFailsToConnect)
{
    const auto result = finish(http_client::digest_request(ctx, line, {}, "127.0.0.1", http::verb::get, "/", "", 0, ""));
    expectError(result, boost::asio::error::not_found);
    EXPECT_TRUE(registrations.empty());
}

TEST_F(HttpClient, ResolvesNumericAddressesAndReportsFailures)
{
    const auto found = finish(http_client::resolve_address(ctx, "127.0.0.1", "8080"));
    ASSERT_TRUE(found && found->has_value());
    ASSERT_EQ(found->value().size(), 1u);
    EXPECT_EQ(found->value().begin()->endpoint().port(), 8080);

    const auto failed = finish(http_client::resolve_address(ctx, "127.0.0.1", "no-such-service-velotrim"));
    ASSERT_TRUE(failed.has_value());
    EXPECT_FALSE(failed->has_value());
    EXPECT_TRUE(registrations.empty());
}

} // namespace
