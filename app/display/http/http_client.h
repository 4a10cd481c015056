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

// The program's coroutine HTTP/1.1 client. Exchanges run on lanes (http_client_lanes.h): a lane
// keeps its connection open between exchanges and answers the server's Digest challenges with
// its own state. The coroutines start at the call and resume from the thread that runs the
// context's I/O context (the GUI thread). Failures are results, never exceptions.
namespace http_client {

using endpoints = boost::asio::ip::tcp::resolver::results_type;
using string_request = boost::beast::http::request<boost::beast::http::string_body>;
using dynamic_request = boost::beast::http::request<boost::beast::http::dynamic_body>;
using string_response = boost::beast::http::response<boost::beast::http::string_body>;
using response_result = expected<string_response, boost::system::error_code>;

class lane;

inline constexpr char kUserAgent[] = "Boost.Beast/357";

QCoro::Task<expected<endpoints, boost::system::error_code>> resolve_address(context& ctx, std::string host,
                                                                           std::string service);

// One exchange on the lane: on its open connection when the server has kept it (and has neither
// closed it nor sent anything unasked since), else on a new one. Sends Authorization whenever the
// lane can make one. A request on a kept connection goes once more, on a new connection, only
// when the server cannot have acted on it: it answered "408 Request Timeout", or the connection
// ended before the request was written whole; one written whole whose connection then ended
// before any reply goes again only for a method that may be repeated (GET, HEAD, PUT, DELETE,
// OPTIONS, TRACE). Nothing else is retried. The connection stays open after the response unless
// either side said "Connection: close" or the body ran to the end of the stream. Instantiated
// for string_request and dynamic_request.
template <class Request>
QCoro::Task<response_result> http_request(context& ctx, lane& line, endpoints resolved, Request request);

// A request on the lane answered, when the server asks for it, with Digest credentials: one
// retry after a 401 with a challenge; a second 401 comes back as a response. With contentLength
// 0 no body is sent, and Content-Length only for POST, PUT and PATCH (as "0"). Host, target and content type must be free of
// control characters (the error is bad_value or bad_target, and nothing is sent). The lane must
// not carry another exchange meanwhile (lane_pool sees to that).
QCoro::Task<response_result> digest_request(context& ctx, lane& line, endpoints resolved, std::string host,
                                            boost::beast::http::verb method, std::string target,
                                            std::string contentType, std::uint64_t contentLength, std::string body);

// The same with a body in a buffer that the caller keeps alive until the task ends.
QCoro::Task<response_result> digest_request(context& ctx, lane& line, endpoints resolved, std::string host,
                                            boost::beast::http::verb method, std::string target,
                                            std::string contentType, std::uint64_t contentLength,
                                            boost::beast::multi_buffer& body);

// Cancels every operation registered in the context (exchanges, waits for a lane); each ends
// with operation_aborted.
void cancel_all(context& ctx);

} // namespace http_client
