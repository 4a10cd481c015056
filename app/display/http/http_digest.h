#pragma once

#include "display/http/http_client_context.h"
#include "display/http/http_digest_hash.h"

#include <boost/system/error_code.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// HTTP Digest authentication (MD5, qop "auth" or none) for the request coroutines. The user name
// and password come from the client context; the challenge and the counts belong to one lane
// (one connection), so that each connection's requests are counted in the order they are written.
namespace http_client {

struct digest_state
{
    // The last accepted challenge, replaced as a group.
    std::string realm;
    std::string nonce;
    std::string qop; // "auth" or empty
    // Absent when the challenge had none: a server that sent no opaque may refuse one it did
    // not send, even an empty one.
    std::optional<std::string> opaque;

    std::string cnonce;   // made once, at the first Digest response, then kept
    std::uint64_t nc = 0; // requests counted under the current nonce; a new nonce starts again

    ha1_cache ha1; // of the credentials and realm the last response was made with
};

// Reads a Digest challenge (the value of a WWW-Authenticate field) into the state. A nonce other
// than the one held starts its count again. On any failure the state is left as it was and the
// error is boost::beast::http::error::need_more.
boost::system::error_code parseWwwAuthenticate(digest_state& state, std::string value);

// The request digest for method and uri (the target exactly as on the request line). Makes the
// cnonce on first use and counts the value in nc.
std::string digest_response(const context& ctx, digest_state& state, std::string_view method, std::string_view uri);

// The Authorization value for a request, or an empty string while user name, password, realm or
// nonce is missing.
std::string digest_authorization(const context& ctx, digest_state& state, std::string_view method,
                                 std::string_view uri);

template <class Request>
std::string digest_authorization(const context& ctx, digest_state& state, const Request& request)
{
    const auto method = request.method_string();
    const auto target = request.target();
    return digest_authorization(ctx, state, {method.data(), method.size()}, {target.data(), target.size()});
}

} // namespace http_client
