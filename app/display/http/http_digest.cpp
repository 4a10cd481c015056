#include "display/http/http_digest.h"

#include "display/http/http_control_characters.h"

#include <boost/beast/http/error.hpp>

#include <QtGlobal>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <iterator>
#include <map>
#include <optional>

namespace http_client {
namespace {

constexpr std::string_view kScheme = "digest"; // compared case-insensitively
constexpr std::string_view kQopAuth = "auth";
constexpr std::string_view kAlgorithmMd5 = "MD5";

// The client nonce counts the clock in these ticks since 1970.
using CnonceTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool isTokenChar(char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isWhitespace(char c)
{
    return c == ' ' || c == '\t';
}

// Reads the auth-params of a challenge (RFC 7235, RFC 7616): name = token or quoted-string,
// separated by commas. Names are case-insensitive and kept in lower case; quoted values may
// hold "," and "=" and lose their quoting. A malformed parameter is skipped up to the next
// comma outside quotes; a later parameter of the same name wins.
class ChallengeParams
{
public:
    explicit ChallengeParams(std::string_view text) : m_text(text) {}

    std::map<std::string, std::string> parse()
    {
        std::map<std::string, std::string> params;
        while (true) {
            skipSeparators();
            if (atEnd())
                break;
            std::string name = token();
            skipWhitespace();
            if (name.empty() || !consume('=')) {
                skipPastComma();
                continue;
            }
            skipWhitespace();
            const std::optional<std::string> value = peek() == '"' ? quotedString() : plainValue();
            skipWhitespace();
            if (!value || (!atEnd() && peek() != ',')) {
                skipPastComma();
                continue;
            }
            for (char& c : name)
                c = lower(c);
            params[name] = *value;
        }
        return params;
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    char peek() const { return atEnd() ? '\0' : m_text[m_pos]; }
    bool consume(char c)
    {
        if (peek() != c || atEnd())
            return false;
        ++m_pos;
        return true;
    }
    void skipWhitespace()
    {
        while (!atEnd() && isWhitespace(peek()))
            ++m_pos;
    }
    void skipSeparators()
    {
        while (!atEnd() && (isWhitespace(peek()) || peek() == ','))
            ++m_pos;
    }
    std::string token()
    {
        const std::size_t start = m_pos;
        while (!atEnd() && isTokenChar(peek()))
            ++m_pos;
        return std::string(m_text.substr(start, m_pos - start));
    }
    // A value without quotes runs to the next comma, as servers that write unquoted values
    // containing "=" or blanks expect.
    std::optional<std::string> plainValue()
    {
        const std::size_t start = m_pos;
        while (!atEnd() && peek() != ',') {
            if (is_control(peek(), tab_rule::allowed) || peek() == '"')
                return std::nullopt;
            ++m_pos;
        }
        std::size_t end = m_pos;
        while (end > start && isWhitespace(m_text[end - 1]))
            --end;
        return std::string(m_text.substr(start, end - start));
    }
    std::optional<std::string> quotedString()
    {
        ++m_pos; // opening quote
        std::string value;
        while (!atEnd()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return value;
            if (c == '\\') {
                if (atEnd())
                    break;
                value += m_text[m_pos++];
            } else {
                value += c;
            }
            if (is_control(value.back(), tab_rule::allowed))
                break;
        }
        m_pos = m_text.size(); // unterminated or broken: nothing after it can be trusted
        return std::nullopt;
    }
    void skipPastComma()
    {
        bool quoted = false;
        while (!atEnd()) {
            const char c = m_text[m_pos++];
            if (quoted && c == '\\' && !atEnd())
                ++m_pos;
            else if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted)
                return;
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

// The scheme word, then at least one blank; returns the rest, or nothing when the value is not
// a Digest challenge.
std::optional<std::string_view> digestParams(std::string_view value)
{
    if (value.size() <= kScheme.size() || !isWhitespace(value[kScheme.size()]))
        return std::nullopt;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        if (lower(value[i]) != kScheme[i])
            return std::nullopt;
    }
    return value.substr(kScheme.size() + 1);
}

// A qop value is a comma-separated list; "auth" is chosen when it is offered at all.
std::optional<std::string> chooseQop(std::string_view offered)
{
    bool empty = true;
    std::size_t pos = 0;
    while (pos <= offered.size()) {
        std::size_t end = offered.find(',', pos);
        if (end == std::string_view::npos)
            end = offered.size();
        std::string_view item = offered.substr(pos, end - pos);
        while (!item.empty() && isWhitespace(item.front()))
            item.remove_prefix(1);
        while (!item.empty() && isWhitespace(item.back()))
            item.remove_suffix(1);
        if (item == kQopAuth)
            return std::string(kQopAuth);
        empty = empty && item.empty();
        pos = end + 1;
    }
    if (empty)
        return std::string();
    return std::nullopt;
}

// At least eight hexadecimal digits, zeros in front.
std::string nonceCount(std::uint64_t count)
{
    constexpr std::size_t kDigits = 8;
    constexpr int kHexadecimal = 16;
    char digits[2 * sizeof count];
    const char* end = std::to_chars(std::begin(digits), std::end(digits), count, kHexadecimal).ptr;
    const auto length = std::size_t(end - digits);
    std::string text(length < kDigits ? kDigits - length : 0, '0');
    text.append(digits, length);
    return text;
}

std::string clockCnonce()
{
    const auto ticks = std::chrono::duration_cast<CnonceTicks>(std::chrono::system_clock::now().time_since_epoch());
    return std::to_string(ticks.count());
}

// Appends a quoted-string of RFC 7230: the value between double quotes with '"' and '\' escaped.
void appendQuoted(std::string& text, std::string_view value)
{
    const auto escaped = [](char c) { return c == '"' || c == '\\'; };
    text += '"';
    // Values seldom hold either character: the runs between them go in whole.
    for (auto run = value.begin(); run != value.end();) {
        const auto escape = std::find_if(run, value.end(), escaped);
        text.append(run, escape);
        if (escape == value.end())
            break;
        text += '\\';
        text += *escape;
        run = escape + 1;
    }
    text += '"';
}

std::string lookup(const std::map<std::string, std::string>& params, const std::string& name)
{
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

} // namespace

boost::system::error_code parseWwwAuthenticate(digest_state& state, std::string value)
{
    const boost::system::error_code rejected = boost::beast::http::error::need_more;

    const std::optional<std::string_view> rest = digestParams(value);
    if (!rest) {
        qCritical("Invalid WWW-Authenticate header: %s", value.c_str());
        return rejected;
    }
    const std::map<std::string, std::string> params = ChallengeParams(*rest).parse();

    if (!params.contains("realm") || !params.contains("nonce")) {
        qCritical("Missing required fields in WWW-Authenticate header");
        return rejected;
    }
    const std::string algorithm = lookup(params, "algorithm");
    if (!algorithm.empty() && algorithm != kAlgorithmMd5) {
        qCritical("Unsupported algorithm: %s", algorithm.c_str());
        return rejected;
    }
    const std::string offeredQop = lookup(params, "qop");
    const std::optional<std::string> qop = chooseQop(offeredQop);
    if (!qop) {
        qCritical("Unsupported qop: %s", offeredQop.c_str());
        return rejected;
    }

    std::string nonce = lookup(params, "nonce");
    // The count is of the requests made with one nonce: a server that checks it expects a new
    // nonce's first request to count 1.
    if (nonce != state.nonce)
        state.nc = 0;
    state.realm = lookup(params, "realm");
    state.nonce = std::move(nonce);
    if (const auto opaque = params.find("opaque"); opaque != params.end())
        state.opaque = opaque->second;
    else
        state.opaque.reset();
    state.qop = *qop;
    return {};
}

std::string digest_response(const context& ctx, digest_state& state, std::string_view method, std::string_view uri)
{
    const std::string_view ha1 = state.ha1.get(ctx.username, state.realm, ctx.password);
    const Md5HexDigits ha2 = digest_hash({method, uri});
    if (state.cnonce.empty())
        state.cnonce = clockCnonce();

    ++state.nc;
    const Md5HexDigits response =
        state.qop == kQopAuth
            ? digest_hash({ha1, state.nonce, nonceCount(state.nc), state.cnonce, state.qop, view(ha2)})
            : digest_hash({ha1, state.nonce, view(ha2)});
    return std::string(view(response));
}

std::string digest_authorization(const context& ctx, digest_state& state, std::string_view method,
                                 std::string_view uri)
{
    if (ctx.username.empty() || ctx.password.empty() || state.realm.empty() || state.nonce.empty())
        return {};

    // Room for the fixed words, the quotes and the values: one allocation for the whole field.
    constexpr std::size_t kFixedText = 128;
    const std::string response = digest_response(ctx, state, method, uri);
    std::string value;
    value.reserve(kFixedText + ctx.username.size() + state.realm.size() + state.nonce.size() + uri.size()
                  + response.size() + (state.opaque ? state.opaque->size() : 0) + state.cnonce.size());
    value += "Digest username=";
    appendQuoted(value, ctx.username);
    value += ", realm=";
    appendQuoted(value, state.realm);
    value += ", nonce=";
    appendQuoted(value, state.nonce);
    value += ", uri=";
    appendQuoted(value, uri);
    value += ", response=";
    appendQuoted(value, response);
    if (state.opaque) {
        value += ", opaque=";
        appendQuoted(value, *state.opaque);
    }
    if (!state.qop.empty()) {
        value += ", qop=";
        value += state.qop;
        value += ", nc=";
        value += nonceCount(state.nc);
    }
    value += ", cnonce=";
    appendQuoted(value, state.cnonce);
    return value;
}

} // namespace http_client
