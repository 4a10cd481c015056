#include "support/HttpClientFixture.h"
#include "../support/Lighttpd.h"

#include <boost/beast/http/verb.hpp>


#include <gtest/gtest.h>

#include <optional>
#include <string>

// The display client against Debian's lighttpd with its standard Digest authentication (RFC 7616,
// MD5, qop "auth") and keep-alive, as an independent server would judge it.

namespace {

class StandardDigestServer : public HttpClientFixture
{
protected:
    void SetUp() override
    {
        if (Lighttpd::program().isEmpty())
            GTEST_SKIP() << "lighttpd is not installed (scripts/setup installs it)";
    }

    void start(const Lighttpd::Options& options)
    {
        const QString failure = m_server.start(Lighttpd::program(), options);
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
        m_resolved = boost::asio::ip::tcp::resolver(io).resolve("127.0.0.1", std::to_string(m_server.port()));
        ctx.username = Lighttpd::kUser.toStdString();
        ctx.password = Lighttpd::kPassword.toStdString();
    }

    std::optional<Result> get(const std::string& target)
    {
        return finish(http_client::digest_request(ctx, line, m_resolved, "127.0.0.1", boost::beast::http::verb::get,
                                                  target, "application/json", 0, ""));
    }

    // How often the server refused a login, by its own log.
    int refusedLogins() { return int(m_server.log().count("wrong password")); }

    Lighttpd m_server;
    http_client::endpoints m_resolved;
};

} // namespace

TEST_F(StandardDigestServer, TheFirstRequestOfANewClientAuthenticates)
{
    ASSERT_NO_FATAL_FAILURE(start({}));
    const auto first = get("/api/data.json?dev.receivers&sys.fixtures");
    expectStatus(first, 200);
    EXPECT_EQ(first->value().body(), Lighttpd::kData.toStdString());
    // The server's challenge carries no opaque, so the answer carried none either.
    EXPECT_FALSE(line.digest.opaque.has_value());
    EXPECT_EQ(line.digest.realm, Lighttpd::kRealm.toStdString());
    EXPECT_EQ(line.digest.qop, "auth");

    // Later requests authenticate from the start: one more response computed, no new challenge.
    expectStatus(get("/api/data.json"), 200);
    EXPECT_EQ(line.digest.nc, 2u);
    EXPECT_EQ(refusedLogins(), 0) << m_server.log().toStdString();
}

TEST_F(StandardDigestServer, AWrongPasswordEndsWithTheServersRefusal)
{
    ASSERT_NO_FATAL_FAILURE(start({}));
    ctx.password = "wrong";
    expectStatus(get("/api/data.json"), 401);
    EXPECT_TRUE(waitUntil([this] { return refusedLogins() > 0; }, kFinishLimitMs));
    EXPECT_EQ(refusedLogins(), 1) << "one answer to the challenge, no further attempt";
}

// lighttpd keeps a connection for a few requests and says "Connection: close" on the last.
TEST_F(StandardDigestServer, ALaneKeepsItsConnectionAsLongAsTheServerDoes)
{
    constexpr int kPerConnection = 3;
    ASSERT_NO_FATAL_FAILURE(start({0, kPerConnection}));
    constexpr int kRequests = 3 * kPerConnection + 1;
    for (int i = 0; i < kRequests; ++i)
        expectStatus(get("/api/data.json"), 200);
    // Several requests went on each connection, and each close the server announced was followed.
    EXPECT_GT(line.connections_opened(), 1u);
    EXPECT_LE(line.connections_opened(), std::size_t(kRequests + kPerConnection) / kPerConnection);
    EXPECT_EQ(refusedLogins(), 0) << m_server.log().toStdString();
}

// lighttpd closes a connection left idle past its limit without a word: the next request, a POST
// that must not reach the backend twice, takes a new connection and reaches it once.
TEST_F(StandardDigestServer, ARequestAfterTheServersIdleCloseTakesANewConnection)
{
    constexpr int kIdleSeconds = 1;
    ProcessorSimulator backend;
    backend.setRoute("POST", "/api/v1/data", ProcessorSimulator::Reply::json("", 204));
    ASSERT_NO_FATAL_FAILURE(start({backend.port(), 0, kIdleSeconds}));
    const auto post = [this] {
        return finish(http_client::digest_request(ctx, line, m_resolved, "127.0.0.1", boost::beast::http::verb::post,
                                                  "/api/v1/data", "application/json", 2, "{}"));
    };

    expectStatus(post(), 204);
    const std::size_t opened = line.connections_opened();
    // The server's close has reached the client.
    ASSERT_TRUE(waitUntil([this] { return !line.reusable_for(m_resolved); }, (kIdleSeconds + 3) * 1000));
    expectStatus(post(), 204);
    EXPECT_EQ(backend.accepted("POST", "/api/v1/data").size(), 2u);
    EXPECT_EQ(line.connections_opened(), opened + 1);
    EXPECT_EQ(refusedLogins(), 0) << m_server.log().toStdString();
}
