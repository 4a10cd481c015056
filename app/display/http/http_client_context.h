#pragma once

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

namespace http_client {

class cancel_registration;

// The operations in flight that cancel_all can reach. The owner of a context keeps the set.
using cancel_set = std::set<cancel_registration*>;

// How long a single step of an exchange (connect, write, read) may take before it fails with
// boost::beast::error::timeout. A processor that accepts and then stays silent must not hang
// its caller.
inline constexpr std::chrono::seconds kExchangeTimeLimit{10};

// The client state of one processor: where its I/O runs, what can be cancelled, and the
// Digest credentials and challenge. Only ever touched on the thread that runs ioc.
struct context
{
    explicit context(boost::asio::io_context& ioContext, cancel_set* registrations = nullptr)
        : ioc(ioContext)
        , cancellables(registrations)
    {
    }

    boost::asio::io_context& ioc;
    cancel_set* cancellables = nullptr;

    std::string username;
    std::string password;

    // The last accepted challenge, replaced as a group.
    std::string realm;
    std::string nonce;
    std::string qop; // "auth" or empty
    std::string opaque;

    std::string cnonce;   // made once, at the first Digest response, then kept
    std::uint64_t nc = 0; // Authorization values computed so far; never reset

    std::chrono::steady_clock::duration time_limit = kExchangeTimeLimit;
};

} // namespace http_client
