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

// How long connecting may take, and how long an exchange may take from the moment its request
// is written to the end of the response, before it fails with boost::beast::error::timeout. A
// processor that accepts and then stays silent must not hang its caller. Time spent waiting
// for a lane is not counted (see lane_pool).
inline constexpr std::chrono::seconds kExchangeTimeLimit{10};

// The largest response body read. A larger declared Content-Length is refused before any of the
// body is read or reserved; chunked and close-delimited bodies are counted as they arrive.
inline constexpr std::uint64_t kResponseBodyLimit = 8 * 1024 * 1024;

// The client state of one processor: where its I/O runs, what can be cancelled, the Digest
// credentials and the limits. The challenges are held per lane (http_client_lanes.h). Only ever
// touched on the thread that runs ioc.
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

    std::chrono::steady_clock::duration time_limit = kExchangeTimeLimit;
    std::uint64_t body_limit = kResponseBodyLimit;
};

} // namespace http_client
