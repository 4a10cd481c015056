#include "display/http/http_client.h"

#include "display/http/http_client_awaitables.h"
#include "display/http/http_client_cancel_registration.h"
#include "display/http/http_client_lanes.h"
#include "display/http/http_control_characters.h"
#include "display/http/http_digest.h"

#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

#include <QtGlobal>

#include <string_view>
#include <vector>

namespace http_client {
namespace {

namespace http = boost::beast::http;
using boost::system::error_code;

constexpr unsigned kHttpVersion = 11;
constexpr unsigned kUnauthorized = 401;
constexpr unsigned kRequestTimeout = 408;

// A request line or header that carries a CR, LF or other control character would let operator
// input (a user name, a host, a tile name in a target) add lines of its own to the request.
template <class Request>
error_code refuseUnsafe(const context& ctx, const Request& request)
{
    const auto target = request.target();
    if (holds_control({target.data(), target.size()}, tab_rule::control) || target.find(' ') != target.npos) {
        qCritical("http_request: refused a target holding blanks or control characters");
        return http::error::bad_target;
    }
    for (const auto& field : request) {
        const auto value = field.value();
        if (holds_control({value.data(), value.size()}, tab_rule::allowed)) {
            qCritical("http_request: refused the field %s holding control characters",
                      std::string(field.name_string()).c_str());
            return http::error::bad_value;
        }
    }
    if (holds_control(ctx.username, tab_rule::control)) {
        qCritical("http_request: refused a user name holding control characters");
        return http::error::bad_value;
    }
    return {};
}

template <class Body>
http::request<Body> prepareRequest(const std::string& host, http::verb method, const std::string& target,
                                   const std::string& contentType)
{
    http::request<Body> request;
    request.version(kHttpVersion);
    request.method(method);
    request.target(target);
    request.set(http::field::host, host);
    request.set(http::field::user_agent, kUserAgent);
    if (!contentType.empty())
        request.set(http::field::content_type, contentType);
    return request;
}

// Sets the body and its length; bad_content_length when they disagree. Without a body a POST,
// PUT or PATCH still says "Content-Length: 0": standard servers refuse such a request without a
// length (411 Length Required); other methods say nothing.
template <class Request, class Body>
error_code attachBody(Request& request, std::uint64_t contentLength, Body&& body)
{
    if (contentLength == 0) {
        const http::verb method = request.method();
        if (method == http::verb::post || method == http::verb::put || method == http::verb::patch)
            request.set(http::field::content_length, "0");
        return {};
    }
    if (contentLength != body.size())
        return http::error::bad_content_length;
    request.set(http::field::content_length, std::to_string(contentLength));
    request.body() = std::forward<Body>(body);
    return {};
}

// The failures that mean the connection ended before any reply: nothing of one came, the
// connection simply ended.
bool closedBeforeReply(const error_code& error)
{
    return error == http::error::end_of_stream || error == boost::asio::error::eof
        || error == boost::asio::error::connection_reset || error == boost::asio::error::connection_aborted
        || error == boost::asio::error::broken_pipe;
}

// Methods whose request may go twice with the effect of going once.
bool repeatable(http::verb method)
{
    return method == http::verb::get || method == http::verb::head || method == http::verb::put
        || method == http::verb::delete_ || method == http::verb::options || method == http::verb::trace;
}

// What became of one attempt at an exchange, besides its outcome.
struct Attempt
{
    bool written = false; // the whole request went out
    bool replied = false; // some of a reply arrived
    bool keep = false;    // the connection may carry the next request
};

// Whether a request that came to nothing on a kept connection goes once more, on a new one. The
// server's idle limit can run out just as the request leaves; it goes again only when the server
// cannot have acted on it: the answer was "408 Request Timeout" (the server gave up waiting and
// closed, so the request crossed its close unread), or the connection ended while the request
// was still being written (the server never had all of it). A request written whole whose
// connection then ended without a word may have been read and acted on: only a method that may
// be repeated goes again.
bool goesAgain(http::verb method, const Attempt& attempt, const response_result& outcome)
{
    if (outcome.has_value())
        return outcome.value().result_int() == kRequestTimeout;
    if (attempt.replied || !closedBeforeReply(outcome.error()))
        return false;
    return !attempt.written || repeatable(method);
}

// Steps shared by both forms of digest_request once the request is built. Whatever the exchange
// throws ends it with an error to its waiter, never past it. (One coroutine for both: each
// coroutine an exchange passes through costs its frame and its waiter lists on every exchange.)
template <class Request>
QCoro::Task<response_result> guardedExchange(context& ctx, lane& line, endpoints resolved, Request request)
{
    try {
        auto first = co_await http_request<Request>(ctx, line, resolved, request);
        if (!first.has_value() || first.value().result_int() != kUnauthorized)
            co_return std::move(first);

        const auto challenge = first.value().find(http::field::www_authenticate);
        if (challenge == first.value().end()) {
            qDebug("No WWW-Authenticate header found in response");
            co_return error_code(http::error::need_more);
        }
        if (const error_code rejected = parseWwwAuthenticate(line.digest, std::string(challenge->value())))
            co_return rejected;

        co_return co_await http_request<Request>(ctx, line, resolved, request);
    } catch (const std::exception& e) {
        qCritical("http_request: the exchange ended by an exception: %s", e.what());
    } catch (...) {
        qCritical("http_request: the exchange ended by an unknown exception");
    }
    line.close();
    co_return exchange_failed();
}

// A step's failure as the exchange reports it: one the lane's deadline ended is a timeout.
error_code failure(const lane& line, const error_code& error)
{
    return line.timed_out() ? error_code(boost::beast::error::timeout) : error;
}

// Reads one response from the lane's connection with its body held to ctx.body_limit. A declared
// Content-Length is checked before any of the body is read or reserved (Beast would reserve it
// whole, and skips its own check when body bytes come in the same read as the header); chunked
// and close-delimited bodies are counted as they arrive. Past the limit the exchange ends with
// body_limit and what was read is freed. Runs under the deadline set when the request was written.
QCoro::Task<response_result> readResponse(context& ctx, lane& line, const cancel_registration& registration,
                                          Attempt& state)
{
    const error_code aborted = boost::asio::error::operation_aborted;
    boost::asio::ip::tcp::socket& stream = line.socket();
    boost::beast::flat_buffer& buffer = line.buffer();
    buffer.consume(buffer.size());
    http::response_parser<http::string_body> parser;
    parser.body_limit(ctx.body_limit);

    auto header = co_await async_read_header<decltype(parser)>(stream, buffer, parser);
    state.replied = parser.got_some() || buffer.size() > 0;
    if (registration.cancelled())
        co_return aborted;
    if (!header)
        co_return failure(line, header.error());
    if (const auto declared = parser.content_length(); declared && *declared > ctx.body_limit) {
        qCritical("http_request: refused a response body of %llu bytes (the limit is %llu)",
                  static_cast<unsigned long long>(*declared), static_cast<unsigned long long>(ctx.body_limit));
        co_return error_code(http::error::body_limit);
    }

    while (!parser.is_done()) {
        auto read = co_await async_read_some<decltype(parser)>(stream, buffer, parser);
        if (registration.cancelled())
            co_return aborted;
        if (!read)
            co_return failure(line, read.error());
        if (parser.get().body().size() > ctx.body_limit) {
            qCritical("http_request: refused a response body longer than %llu bytes",
                      static_cast<unsigned long long>(ctx.body_limit));
            co_return error_code(http::error::body_limit);
        }
    }
    // Bytes beyond the response were never asked for: such a connection is not trusted again.
    state.keep = parser.keep_alive() && buffer.size() == 0;
    co_return parser.release();
}

} // namespace

QCoro::Task<expected<endpoints, error_code>> resolve_address(context& ctx, std::string host, std::string service)
{
    boost::asio::ip::tcp::resolver resolver(ctx.ioc);
    cancel_registration registration(ctx, [&resolver] { resolver.cancel(); });
    auto resolved = co_await async_resolve(resolver, std::move(host), std::move(service));
    if (registration.cancelled())
        co_return error_code(boost::asio::error::operation_aborted);
    co_return resolved;
}

template <class Request>
QCoro::Task<response_result> http_request(context& ctx, lane& line, endpoints resolved, Request request)
{
    if (const error_code refused = refuseUnsafe(ctx, request))
        co_return refused;

    // Closing rather than only cancelling: a cancelled connect would otherwise go on to the
    // next endpoint of the list.
    cancel_registration registration(ctx, [&line] { line.close(); });
    const error_code aborted = boost::asio::error::operation_aborted;

    for (bool again = false;; again = true) {
        const bool reused = line.reusable_for(resolved);
        if (!reused) {
            boost::asio::ip::tcp::socket& fresh = line.open_socket(ctx.ioc);
            line.start_deadline(ctx.ioc, ctx.time_limit);
            auto connected = co_await async_connect(fresh, resolved);
            line.end_deadline();
            if (registration.cancelled() || !connected) {
                line.discard();
                co_return registration.cancelled() ? aborted : failure(line, connected.error());
            }
            line.connected_to(connected.value());
        }

        // Counted just before the write, so that the lane's counts follow the order of writing.
        if (const std::string authorization = digest_authorization(ctx, line.digest, request); !authorization.empty())
            request.set(http::field::authorization, authorization);

        // The exchange's time runs from its write to the end of its reply.
        line.start_deadline(ctx.ioc, ctx.time_limit);
        Attempt attempt;
        response_result outcome = aborted;
        auto written = co_await async_write<Request>(line.socket(), request);
        if (!registration.cancelled()) {
            attempt.written = written.has_value();
            if (!written)
                outcome = failure(line, written.error());
            else
                outcome = co_await readResponse(ctx, line, registration, attempt);
        }
        line.end_deadline();
        if (registration.cancelled())
            outcome = aborted;

        const bool retry = reused && !again && goesAgain(request.method(), attempt, outcome);
        if (outcome.has_value() && !retry) {
            if (!attempt.keep)
                line.discard();
            co_return outcome;
        }
        line.discard();
        if (!retry)
            co_return outcome;
        qDebug("http_request: %s on a kept connection; the request goes once more on a new one",
               outcome.has_value() ? "408 Request Timeout" : outcome.error().message().c_str());
    }
}

template QCoro::Task<response_result> http_request<string_request>(context&, lane&, endpoints, string_request);
template QCoro::Task<response_result> http_request<dynamic_request>(context&, lane&, endpoints, dynamic_request);

QCoro::Task<response_result> digest_request(context& ctx, lane& line, endpoints resolved, std::string host,
                                            http::verb method, std::string target, std::string contentType,
                                            std::uint64_t contentLength, std::string body)
{
    auto request = prepareRequest<http::string_body>(host, method, target, contentType);
    if (const error_code refused = attachBody(request, contentLength, std::move(body)))
        co_return refused;
    co_return co_await guardedExchange(ctx, line, std::move(resolved), std::move(request));
}

QCoro::Task<response_result> digest_request(context& ctx, lane& line, endpoints resolved, std::string host,
                                            http::verb method, std::string target, std::string contentType,
                                            std::uint64_t contentLength, boost::beast::multi_buffer& body)
{
    auto request = prepareRequest<http::dynamic_body>(host, method, target, contentType);
    if (const error_code refused = attachBody(request, contentLength, body))
        co_return refused;
    co_return co_await guardedExchange(ctx, line, std::move(resolved), std::move(request));
}

void cancel_all(context& ctx)
{
    if (!ctx.cancellables)
        return;
    // Cancelling only schedules completions, but a snapshot keeps the walk safe even if one
    // ever ended its operation at once.
    const std::vector<cancel_registration*> snapshot(ctx.cancellables->begin(), ctx.cancellables->end());
    for (cancel_registration* registration : snapshot) {
        if (ctx.cancellables->contains(registration))
            registration->cancel();
    }
}

} // namespace http_client
