#pragma once

#include "display/http/http_client_context.h"

#include <boost/system/error_code.hpp>

#include <string>
#include <string_view>

// HTTP Digest authentication (MD5, qop "auth" or none) for the request coroutines.
namespace http_client {

// Reads a Digest challenge (the value of a WWW-Authenticate field) into the context. On any
// failure the context is left as it was and the error is boost::beast::http::error::need_more.
boost::system::error_code parseWwwAuthenticate(context& ctx, std::string value);

// The request digest for method and uri (the target exactly as on the request line). Makes the
// cnonce on first use and counts the value in nc.
std::string digest_response(context& ctx, std::string_view method, std::string_view uri);

// The Authorization value for a request, or an empty string while user name, password, realm or
// nonce is missing.
std::string digest_authorization(context& ctx, std::string_view method, std::string_view uri);

template <class Request>
std::string digest_response(context& ctx, const Request& request)
{
    const auto method = request.method_string();
    const auto target = request.target();
    return digest_response(ctx, {method.data(), method.size()}, {target.data(), target.size()});
}

template <class Request>
std::string digest_authorization(context& ctx, const Request& request)
{
    const auto method = request.method_string();
    const auto target = request.target();
    return digest_authorization(ctx, {method.data(), method.size()}, {target.data(), target.size()});
}

} // namespace http_client
