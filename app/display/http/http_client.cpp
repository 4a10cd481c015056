#include "display/http/http_client.h"

#include "display/http/http_client_awaitables.h"
#include "display/http/http_client_cancel_registration.h"
#include "display/http/http_digest.h"

#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

#include <QtGlobal>

#include <algorithm>
#include <string_view>
#include <vector>

namespace http_client {
namespace {

namespace http = boost::beast::http;
using boost::system::error_code;

constexpr unsigned kHttpVersion = 11;
constexpr unsigned kUnauthorized = 401;

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

// A request line or header that carries a CR, LF or other control character would let operator
// input (a user name, a host, a tile name in a target) add lines of its own to the request.
bool holdsControl(std::string_view text, bool tabAllowed)
{
    return std::any_of(text.begin(), text.end(), [tabAllowed](char c) { return isControl(c) && !(tabAllowed && c == '\t'); });
}

template <class Request>
error_code refuseUnsafe(const context& ctx, const Request& request)
{
    const auto target = request.target();
    if (holdsControl({target.data(), target.size()}, false) || target.find(' ') != target.npos) {
        qCritical("http_request: refused a target holding blanks or control characters");
        return http::error::bad_target;
    }
    for (const auto& field : request) {
        const auto value = field.value();
        if (holdsControl({value.data(), value.size()}, true)) {
            qCritical("http_request: refused the field %s holding control characters",
                      std::string(field.name_string()).c_str());
            return http::error::bad_value;
        }
    }
    if (holdsControl(ctx.username, false)) {
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

void setContentLength(auto& request, std::uint64_t contentLength)
{
    request.set(http::field::content_length, std::to_string(contentLength));
}

// Steps shared by both forms of digest_request once the request is built.
template <class Request>
QCoro::Task<expected<string_response, error_code>> digestExchange(context& ctx, endpoints resolved, Request request)
{
    auto first = co_await http_request<Request, string_response>(ctx, resolved, request);
    if (!first.has_value() || first.value().result_int() != kUnauthorized)
        co_return std::move(first);

    const auto challenge = first.value().find(http::field::www_authenticate);
    if (challenge == first.value().end()) {
        qDebug("No WWW-Authenticate header found in response");
        co_return error_code(http::error::need_more);
    }
    if (const error_code rejected = parseWwwAuthenticate(ctx, std::string(challenge->value())))
        co_return rejected;

    co_return co_await http_request<Request, string_response>(ctx, resolved, request);
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

template <class Request, class Response>
QCoro::Task<expected<Response, error_code>> http_request(context& ctx, endpoints resolved, Request request)
{
    if (const error_code refused = refuseUnsafe(ctx, request))
        co_return refused;

    boost::beast::tcp_stream stream(ctx.ioc);
    // Closing rather than only cancelling: a cancelled connect would otherwise go on to the
    // next endpoint of the list.
    cancel_registration registration(ctx, [&stream] { stream.close(); });
    const error_code aborted = boost::asio::error::operation_aborted;

    stream.expires_after(ctx.time_limit);
    auto connected = co_await async_connect(stream, resolved);
    if (registration.cancelled())
        co_return aborted;
    if (!connected)
        co_return connected.error();

    if (const std::string authorization = digest_authorization(ctx, request); !authorization.empty())
        request.set(http::field::authorization, authorization);

    stream.expires_after(ctx.time_limit);
    auto written = co_await async_write<Request>(stream, request);
    if (registration.cancelled())
        co_return aborted;
    if (!written)
        co_return written.error();

    boost::beast::flat_buffer buffer;
    Response response;
    stream.expires_after(ctx.time_limit);
    auto read = co_await async_read<Response>(stream, buffer, response);
    if (registration.cancelled())
        co_return aborted;
    if (!read)
        co_return read.error();

    // The response is complete: a failing shutdown (the peer may have closed first) costs
    // nothing but a log line.
    stream.expires_never();
    error_code shutdown;
    stream.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, shutdown);
    if (shutdown && shutdown != boost::system::errc::not_connected)
        qWarning("http_request: socket shutdown failed: %s", shutdown.message().c_str());
    co_return response;
}

template QCoro::Task<expected<string_response, error_code>>
http_request<string_request, string_response>(context&, endpoints, string_request);
template QCoro::Task<expected<string_response, error_code>>
http_request<dynamic_request, string_response>(context&, endpoints, dynamic_request);

QCoro::Task<expected<string_response, error_code>> digest_request(context& ctx, endpoints resolved, std::string host,
                                                                  http::verb method, std::string target,
                                                                  std::string contentType,
                                                                  std::uint64_t contentLength, std::string body)
{
    auto request = prepareRequest<http::string_body>(host, method, target, contentType);
    if (contentLength != 0) {
        if (contentLength != body.size())
            co_return error_code(http::error::bad_content_length);
        setContentLength(request, contentLength);
        request.body() = std::move(body);
    }
    co_return co_await digestExchange(ctx, std::move(resolved), std::move(request));
}

QCoro::Task<expected<string_response, error_code>> digest_request(context& ctx, endpoints resolved, std::string host,
                                                                  http::verb method, std::string target,
                                                                  std::string contentType,
                                                                  std::uint64_t contentLength,
                                                                  boost::beast::multi_buffer& body)
{
    auto request = prepareRequest<http::dynamic_body>(host, method, target, contentType);
    if (contentLength != 0) {
        if (contentLength != body.size())
            co_return error_code(http::error::bad_content_length);
        setContentLength(request, contentLength);
        request.body() = body;
    }
    co_return co_await digestExchange(ctx, std::move(resolved), std::move(request));
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
