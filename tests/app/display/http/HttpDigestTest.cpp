#include "display/http/http_client_context.h"
#include "display/http/http_digest.h"

#include "support/MessageCapture.h"

#include <boost/beast/http/error.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace {

using http_client::context;
using http_client::digest_state;

class HttpDigest : public ::testing::Test
{
protected:
    boost::asio::io_context io;
    context ctx{io};
    digest_state state;
};

struct Accepted
{
    const char* challenge;
    const char* realm;
    const char* nonce;
    const char* qop;
    const char* opaque; // nullptr: the challenge has none
};

TEST_F(HttpDigest, AcceptsStandardAndSimpleChallenges)
{
    const Accepted cases[] = {
        // The simple form every processor sends.
        {R"(Digest realm="Kestra", qop="auth", nonce="abc123", opaque="xyz")", "Kestra", "abc123", "auth", "xyz"},
        // Base64 nonces end in "="; a quoted qop list offers auth among others.
        {R"(Digest realm="r", nonce="a2VzdHJhLW5vbmNlLTAwMDE=", qop="auth,auth-int")", "r",
         "a2VzdHJhLW5vbmNlLTAwMDE=", "auth", nullptr},
        {R"(Digest realm="r", nonce="YWI==", qop="auth-int, auth")", "r", "YWI==", "auth", nullptr},
        // Commas and escaped quotes inside quoted values, blanks around "=", any case of names.
        {R"(digest Realm = "a, \"b\"",NONCE=n1 , qop=auth, algorithm=MD5)", "a, \"b\"", "n1", "auth", nullptr},
        // No qop: the short RFC 2069 form.
        {R"(Digest realm="r", nonce="n", opaque="")", "r", "n", "", ""},
        // A later parameter of the same name wins; unknown and broken parameters are skipped.
        {R"(Digest realm="old", stale=true, junk, nonce="n", realm="new", algorithm="MD5")", "new", "n", "", nullptr},
        // Tabs are blanks between parameters and kept inside quoted values.
        {"Digest\trealm=\"a\tb\",\tnonce=n", "a\tb", "n", "", nullptr},
        // A parameter with a control character in it is skipped like any broken one.
        {"Digest realm=\"r\", opaque=o\x7f, nonce=n", "r", "n", "", nullptr},
    };
    for (const Accepted& c : cases) {
        digest_state fresh;
        fresh.nonce = c.nonce; // the same nonce again keeps its count
        fresh.cnonce = "kept";
        fresh.nc = 7;
        EXPECT_FALSE(http_client::parseWwwAuthenticate(fresh, c.challenge)) << c.challenge;
        EXPECT_EQ(fresh.realm, c.realm) << c.challenge;
        EXPECT_EQ(fresh.nonce, c.nonce) << c.challenge;
        EXPECT_EQ(fresh.qop, c.qop) << c.challenge;
        const std::optional<std::string> opaque = c.opaque ? std::optional<std::string>(c.opaque) : std::nullopt;
        EXPECT_EQ(fresh.opaque, opaque) << c.challenge;
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
        {"Digest realm=\"r\x01\", nonce=\"n\"", "Missing required fields in WWW-Authenticate header"},
        {"Digest nonce=\"n\", realm=r\x7f", "Missing required fields in WWW-Authenticate header"},
        {R"(Digest realm="r", nonce="n", algorithm=MD5-sess)", "Unsupported algorithm: MD5-sess"},
        {R"(Digest realm="r", nonce="n", algorithm=SHA-256)", "Unsupported algorithm: SHA-256"},
        {R"(Digest realm="r", nonce="n", qop="auth-int")", "Unsupported qop: auth-int"},
        {R"(Digest realm="r", nonce="n", qop="authx, auth-int")", "Unsupported qop: authx, auth-int"},
    };
    for (const Rejected& c : cases) {
        state.realm = "kept-realm";
        state.nonce = "kept-nonce";
        state.nc = 3;
        MessageCapture capture;
        EXPECT_EQ(http_client::parseWwwAuthenticate(state, c.challenge), boost::beast::http::error::need_more)
            << c.challenge;
        EXPECT_TRUE(capture.contains(QString::fromUtf8(c.message))) << c.challenge;
        EXPECT_EQ(state.realm, "kept-realm");
        EXPECT_EQ(state.nonce, "kept-nonce");
        EXPECT_EQ(state.nc, 3u);
    }
}

// The worked example of RFC 2617, section 3.5, with its client nonce preset.
TEST_F(HttpDigest, ReproducesTheRfc2617Example)
{
    ctx.username = "Mufasa";
    ctx.password = "Circle Of Life";
    ASSERT_FALSE(http_client::parseWwwAuthenticate(
        state, R"(Digest realm="testrealm@host.com", qop="auth,auth-int", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", opaque="5ccc069c403ebaf9f0171e9517f40e41")"));
    state.cnonce = "0a4f113b";

    EXPECT_EQ(http_client::digest_authorization(ctx, state, "GET", "/dir/index.html"),
              R"(Digest username="Mufasa", realm="testrealm@host.com", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", )"
              R"(uri="/dir/index.html", response="6629fae49393a05397450978507c4ef1", )"
              R"(opaque="5ccc069c403ebaf9f0171e9517f40e41", qop=auth, nc=00000001, cnonce="0a4f113b")");
    EXPECT_EQ(state.nc, 1u);
}

// Counts are per nonce: a server that checks them expects 1, 2, 3 ... for each nonce it gives.
TEST_F(HttpDigest, CountsEachNonceFromOneAndMakesTheClientNonceOnceFromTheClock)
{
    ctx.username = "admin";
    ctx.password = "secret";
    ASSERT_FALSE(http_client::parseWwwAuthenticate(state, R"(Digest realm="r", nonce="n", qop="auth")"));

    const std::string first = http_client::digest_authorization(ctx, state, "GET", "/a");
    const std::string cnonce = state.cnonce;
    EXPECT_GE(cnonce.size(), 17u);
    EXPECT_EQ(cnonce.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_NE(first.find("nc=00000001"), std::string::npos);
    EXPECT_NE(http_client::digest_authorization(ctx, state, "GET", "/a").find("nc=00000002"), std::string::npos);

    // The same nonce challenged again (a refused password, say) goes on counting; a new one
    // starts again.
    ASSERT_FALSE(http_client::parseWwwAuthenticate(state, R"(Digest realm="r", nonce="n", qop="auth")"));
    EXPECT_NE(http_client::digest_authorization(ctx, state, "GET", "/a").find("nc=00000003"), std::string::npos);
    ASSERT_FALSE(http_client::parseWwwAuthenticate(state, R"(Digest realm="r", nonce="m", qop="auth")"));
    const std::string renewed = http_client::digest_authorization(ctx, state, "GET", "/a");
    EXPECT_NE(renewed.find("nc=00000001"), std::string::npos) << renewed;
    EXPECT_NE(renewed.find(R"(nonce="m")"), std::string::npos) << renewed;
    EXPECT_EQ(state.cnonce, cnonce);
}

// The count in lower-case hexadecimal, eight digits with zeros in front, more once it outgrows them.
TEST_F(HttpDigest, WritesTheCountInHexadecimal)
{
    ctx.username = "admin";
    ctx.password = "secret";
    ASSERT_FALSE(http_client::parseWwwAuthenticate(state, R"(Digest realm="r", nonce="n", qop="auth")"));
    const std::pair<std::uint64_t, const char*> counts[] = {
        {0, "nc=00000001"},
        {0x1a, "nc=0000001b"},
        {0xfffffffe, "nc=ffffffff"},
        {0xffffffff, "nc=100000000"},
        {0xfffffffffffffffe, "nc=ffffffffffffffff"},
    };
    for (const auto& [before, written] : counts) {
        state.nc = before;
        const std::string field = http_client::digest_authorization(ctx, state, "GET", "/");
        EXPECT_NE(field.find(std::string(written) + ","), std::string::npos) << field;
    }
}

// A standard server that sent no opaque refuses one, even an empty one; one that sent an empty
// opaque expects it back.
TEST_F(HttpDigest, WritesTheShortFormWithOpaqueOnlyWhenTheChallengeHadOne)
{
    const struct
    {
        const char* challenge;
        const char* opaquePart;
    } cases[] = {
        {R"(Digest realm="r", nonce="n")", ""},
        {R"(Digest realm="r", nonce="n", opaque="")", R"(, opaque="")"},
    };
    ctx.username = "admin";
    ctx.password = "secret";
    for (const auto& c : cases) {
        digest_state fresh;
        ASSERT_FALSE(http_client::parseWwwAuthenticate(fresh, c.challenge));
        fresh.cnonce = "42";

        EXPECT_EQ(http_client::digest_authorization(ctx, fresh, "PATCH", "/api/v1/data"),
                  std::string(R"(Digest username="admin", realm="r", nonce="n", uri="/api/v1/data", )"
                              R"(response="d8b6a2b8ad4f7b4f64c43b67e59409ae")")
                      + c.opaquePart + R"(, cnonce="42")")
            << c.challenge;
    }
}

TEST_F(HttpDigest, EscapesQuotesAndBackslashesInQuotedValues)
{
    ctx.username = R"(a"b\c)";
    ctx.password = "secret";
    ASSERT_FALSE(http_client::parseWwwAuthenticate(state, R"(Digest realm="x\"y", nonce="n", opaque="o\\p")"));
    state.cnonce = "42";

    const std::string value = http_client::digest_authorization(ctx, state, "GET", "/");
    EXPECT_NE(value.find(R"(username="a\"b\\c")"), std::string::npos) << value;
    EXPECT_NE(value.find(R"(realm="x\"y")"), std::string::npos) << value;
    EXPECT_NE(value.find(R"(opaque="o\\p")"), std::string::npos) << value;

    // Escapes side by side, at either end, or nothing else.
    const std::pair<std::string, std::string> users[] = {
        {R"("\)", R"(username="\"\\")"},
        {R"(\\admin"")", R"(username="\\\\admin\"\"")"},
        {"admin", R"(username="admin")"},
    };
    for (const auto& [user, written] : users) {
        ctx.username = user;
        const std::string field = http_client::digest_authorization(ctx, state, "GET", "/");
        EXPECT_EQ(field.rfind("Digest " + written + ", realm=", 0), 0u) << field;
    }
}

TEST_F(HttpDigest, SendsNothingWithoutCredentialsOrChallenge)
{
    ASSERT_FALSE(http_client::parseWwwAuthenticate(state, R"(Digest realm="r", nonce="n")"));
    EXPECT_EQ(http_client::digest_authorization(ctx, state, "GET", "/"), ""); // no user name, no password
    ctx.username = "admin";
    EXPECT_EQ(http_client::digest_authorization(ctx, state, "GET", "/"), ""); // no password
    ctx.password = "secret";
    state.nonce.clear();
    EXPECT_EQ(http_client::digest_authorization(ctx, state, "GET", "/"), ""); // no challenge
    EXPECT_EQ(state.nc, 0u);
}

} // namespace
