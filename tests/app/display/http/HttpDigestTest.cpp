#include "display/http/http_client_context.h"
#include "display/http/http_digest.h"

#include "support/MessageCapture.h"

#include <boost/beast/http/error.hpp>

#include <gtest/gtest.h>

#include <string>

namespace {

using http_client::context;

class HttpDigest : public ::testing::Test
{
protected:
    boost::asio::io_context io;
    context ctx{io};
};

struct Accepted
{
    const char* challenge;
    const char* realm;
    const char* nonce;
    const char* qop;
    const char* opaque;
};

TEST_F(HttpDigest, AcceptsStandardAndSimpleChallenges)
{
    const Accepted cases[] = {
        // The simple form every processor sends.
        {R"(Digest realm="Kestra", qop="auth", nonce="abc123", opaque="xyz")", "Kestra", "abc123", "auth", "xyz"},
        // Base64 nonces end in "="; a quoted qop list offers auth among others.
        {R"(Digest realm="r", nonce="a2VzdHJhLW5vbmNlLTAwMDE=", qop="auth,auth-int")", "r",
         "a2VzdHJhLW5vbmNlLTAwMDE=", "auth", ""},
        {R"(Digest realm="r", nonce="YWI==", qop="auth-int, auth")", "r", "YWI==", "auth", ""},
        // Commas and escaped quotes inside quoted values, blanks around "=", any case of names.
        {R"(digest Realm = "a, \"b\"",NONCE=n1 , qop=auth, algorithm=MD5)", "a, \"b\"", "n1", "auth", ""},
        // No qop: the short RFC 2069 form.
        {R"(Digest realm="r", nonce="n", opaque="")", "r", "n", "", ""},
        // A later parameter of the same name wins; unknown and broken parameters are skipped.
        {R"(Digest realm="old", stale=true, junk, nonce="n", realm="new", algorithm="MD5")", "new", "n", "", ""},
    };
    for (const Accepted& c : cases) {
        context fresh{io};
        fresh.cnonce = "kept";
        fresh.nc = 7;
        EXPECT_FALSE(http_client::parseWwwAuthenticate(fresh, c.challenge)) << c.challenge;
        EXPECT_EQ(fresh.realm, c.realm) << c.challenge;
        EXPECT_EQ(fresh.nonce, c.nonce) << c.challenge;
        EXPECT_EQ(fresh.qop, c.qop) << c.challenge;
        EXPECT_EQ(fresh.opaque, c.opaque) << c.challenge;
        EXPECT_EQ(fresh.cnonce, "kept");
        EXPECT_EQ(fresh.nc, 7u);
    }
}

struct Rejected
{
    const char* challenge;
    const char* message;
};

TEST_F(HttpDigest, RejectsWhatItCannotAnswerAndKeepsTheOldChallenge)
{
    const Rejected cases[] = {
        {R"(Basic realm="Kestra")", R"(Invalid WWW-Authenticate header: Basic realm="Kestra")"},
        {"Digest", "Invalid WWW-Authenticate header: Digest"},
        {R"(DigestX realm="r", nonce="n")", R"(Invalid WWW-Authenticate header: DigestX realm="r", nonce="n")"},
        {R"(Digest nonce="n")", "Missing required fields in WWW-Authenticate header"},
        {R"(Digest realm="r", nonce="unterminated)", "Missing required fields in WWW-Authenticate header"},
        {R"(Digest realm="r", nonce="n", algorithm=MD5-sess)", "Unsupported algorithm: MD5-sess"},
        {R"(Digest realm="r", nonce="n", algorithm=SHA-256)", "Unsupported algorithm: SHA-256"},
        {R"(Digest realm="r", nonce="n", qop="auth-int")", "Unsupported qop: auth-int"},
        {R"(Digest realm="r", nonce="n", qop="authx, auth-int")", "Unsupported qop: authx, auth-int"},
    };
    for (const Rejected& c : cases) {
        ctx.realm = "kept-realm";
        ctx.nonce = "kept-nonce";
        MessageCapture capture;
        EXPECT_EQ(http_client::parseWwwAuthenticate(ctx, c.challenge), boost::beast::http::error::need_more)
            << c.challenge;
        EXPECT_TRUE(capture.contains(QString::fromUtf8(c.message))) << c.challenge;
        EXPECT_EQ(ctx.realm, "kept-realm");
        EXPECT_EQ(ctx.nonce, "kept-nonce");
    }
}

// The worked example of RFC 2617, section 3.5, with its client nonce preset.
TEST_F(HttpDigest, ReproducesTheRfc2617Example)
{
    ctx.username = "Mufasa";
    ctx.password = "Circle Of Life";
    ASSERT_FALSE(http_client::parseWwwAuthenticate(
        ctx, R"(Digest realm="testrealm@host.com", qop="auth,auth-int", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", opaque="5ccc069c403ebaf9f0171e9517f40e41")"));
    ctx.cnonce = "0a4f113b";

    EXPECT_EQ(http_client::digest_authorization(ctx, "GET", "/dir/index.html"),
              R"(Digest username="Mufasa", realm="testrealm@host.com", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", )"
              R"(uri="/dir/index.html", response="6629fae49393a05397450978507c4ef1", )"
              R"(opaque="5ccc069c403ebaf9f0171e9517f40e41", qop=auth, nc=00000001, cnonce="0a4f113b")");
    EXPECT_EQ(ctx.nc, 1u);
}

TEST_F(HttpDigest, CountsEveryValueAndMakesTheClientNonceOnceFromTheClock)
{
    ctx.username = "admin";
    ctx.password = "secret";
    ctx.realm = "r";
    ctx.nonce = "n";
    ctx.qop = "auth";

    const std::string first = http_client::digest_authorization(ctx, "GET", "/a");
    const std::string cnonce = ctx.cnonce;
    EXPECT_GE(cnonce.size(), 17u);
    EXPECT_EQ(cnonce.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_NE(first.find("nc=00000001"), std::string::npos);

    ctx.nonce = "m"; // a new challenge does not restart the count
    const std::string second = http_client::digest_authorization(ctx, "GET", "/a");
    EXPECT_NE(second.find("nc=00000002"), std::string::npos);
    EXPECT_EQ(ctx.cnonce, cnonce);
}

TEST_F(HttpDigest, WritesTheShortFormWithoutQopAndAnEmptyOpaque)
{
    ctx.username = "admin";
    ctx.password = "secret";
    ASSERT_FALSE(http_client::parseWwwAuthenticate(ctx, R"(Digest realm="r", nonce="n")"));
    ctx.cnonce = "42";

    EXPECT_EQ(http_client::digest_authorization(ctx, "PATCH", "/api/v1/data"),
              R"(Digest username="admin", realm="r", nonce="n", uri="/api/v1/data", )"
              R"(response="d8b6a2b8ad4f7b4f64c43b67e59409ae", opaque="", cnonce="42")");
}

TEST_F(HttpDigest, EscapesQuotesAndBackslashesInQuotedValues)
{
    ctx.username = R"(a"b\c)";
    ctx.password = "secret";
    ASSERT_FALSE(http_client::parseWwwAuthenticate(ctx, R"(Digest realm="x\"y", nonce="n", opaque="o\\p")"));
    ctx.cnonce = "42";

    const std::string value = http_client::digest_authorization(ctx, "GET", "/");
    EXPECT_NE(value.find(R"(username="a\"b\\c")"), std::string::npos) << value;
    EXPECT_NE(value.find(R"(realm="x\"y")"), std::string::npos) << value;
    EXPECT_NE(value.find(R"(opaque="o\\p")"), std::string::npos) << value;
}

TEST_F(HttpDigest, SendsNothingWithoutCredentialsOrChallenge)
{
    ASSERT_FALSE(http_client::parseWwwAuthenticate(ctx, R"(Digest realm="r", nonce="n")"));
    EXPECT_EQ(http_client::digest_authorization(ctx, "GET", "/"), ""); // no user name, no password
    ctx.username = "admin";
    EXPECT_EQ(http_client::digest_authorization(ctx, "GET", "/"), ""); // no password
    ctx.password = "secret";
    ctx.nonce.clear();
    EXPECT_EQ(http_client::digest_authorization(ctx, "GET", "/"), ""); // no challenge
    EXPECT_EQ(ctx.nc, 0u);
}

} // namespace
