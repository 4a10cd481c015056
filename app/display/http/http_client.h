#pragma once

#include "display/http/http_client_context.h"
#include "display/http/http_client_expected.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/multi_buffer.hpp>
#include <boost/beast/http/dynamic_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/verb.hpp>
#include <boost/system/error_code.hpp>

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <string>

// The program's coroutine HTTP/1.1 client. Every exchange opens its own connection, writes one
// request, reads one response and closes; a 401 with a Digest challenge is answered once. The
// coroutines start at the call and resume from the thread that polls the context's I/O context
// (the GUI thread's pump). Failures are results, never exceptions.
namespace http_client {

using endpoints = boost::asio::ip::tcp::resolver::results_type;
using string_request = boost::beast::http::request<boost::beast::http::string_body>;
using dynamic_request = boost::beast::http::request<boost::beast::http::dynamic_body>;
using string_response = boost::beast::http::response<boost::beast::http::string_body>;

inline constexpr char kUserAgent[] = "Boost.Beast/357";

QCoro::Task<expected<endpoints, boost::system::error_code>> resolve_address(context& ctx, std::string host,
                                                                           std::string service);

// One exchange on a fresh connection; sends Authorization whenever the context can make one.
// Instantiated for string_request and dynamic_request with string_response.
template <class Request, class Response>
QCoro::Task<expected<Response, boost::system::error_code>> http_request(context& ctx, endpoints resolved,
                                                                        Request request);

// A request answered, when the server asks for it, with Digest credentials: one retry after a
// 401 with a challenge; a second 401 comes back as a response. With contentLength 0 neither a
// body nor Content-Length is sent. Host, target and content type must be free of control
// characters (the error is bad_value or bad_target, and nothing is sent).
QCoro::Task<expected<string_response, boost::system::error_code>>
digest_request(context& ctx, endpoints resolved, std::string host, boost::beast::http::verb method,
               std::string target, std::string contentType, std::uint64_t contentLength, std::string body);

// The same with a body in a buffer that the caller keeps alive until the task ends.
QCoro::Task<expected<string_response, boost::system::error_code>>
digest_request(context& ctx, endpoints resolved, std::string host, boost::beast::http::verb method,
               std::string target, std::string contentType, std::uint64_t contentLength,
               boost::beast::multi_buffer& body);

// Cancels every operation registered in the context; each ends with operation_aborted.
void cancel_all(context& ctx);

} // namespace http_client
