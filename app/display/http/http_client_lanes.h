#pragma once

#include "display/http/http_client.h"
#include "display/http/http_client_lazy_timer.h"
#include "display/http/http_digest.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace http_client {

// One connection to a server, kept open between exchanges, and the Digest state of the requests
// made on it: its own nonce, opaque and realm, and a nonce count that rises in the order its
// requests are written, since a lane carries one exchange at a time.
class lane
{
public:
    using clock = std::chrono::steady_clock;

    lane();
    lane(const lane&) = delete;
    lane& operator=(const lane&) = delete;

    digest_state digest;

    // True when the open connection can carry the next request to one of these endpoints: it
    // goes to one of them, and the server has neither closed it nor sent anything unasked since
    // the last reply. Asked before every reuse, however short the pause: a server may end an idle
    // connection at any moment (silently, with a 408, or with a stray reply), and bytes it sent
    // unasked would be read as the next request's reply.
    bool reusable_for(const endpoints& resolved);
    bool connected() const;
    // How many connections the lane has opened.
    std::size_t connections_opened() const { return m_opened; }
    // Closes the connection. An operation pending on it ends with operation_aborted; the socket
    // itself stays until the exchange lets it go.
    void close();

    // For the exchange (http_client.cpp). A new socket for a new connection, replacing the old.
    boost::asio::ip::tcp::socket& open_socket(boost::asio::io_context& ioc);
    void connected_to(const boost::asio::ip::tcp::endpoint& peer);
    boost::asio::ip::tcp::socket& socket() { return *m_socket; }
    boost::beast::flat_buffer& buffer() { return m_buffer; }
    // Closes the connection and lets its socket go; only when nothing is pending on it.
    void discard();

    // The step now running on the connection may take this long; past it the connection is
    // closed and timed_out() holds.
    void start_deadline(boost::asio::io_context& ioc, clock::duration limit);
    void end_deadline();
    bool timed_out() const { return m_timedOut; }

    // Lets every I/O object go: the I/O context is going.
    void let_go();

private:
    std::optional<boost::asio::ip::tcp::socket> m_socket;
    boost::asio::ip::tcp::endpoint m_peer;
    boost::beast::flat_buffer m_buffer;
    std::size_t m_opened = 0;
    lazy_timer m_deadline;
    bool m_timedOut = false;
};

// A small fixed set of lanes to one server, through which every request to it goes. An exchange
// takes the first free lane (one with an open connection first); beyond the lanes, exchanges wait
// in the order they were asked for.
//
// A wait for a lane is bounded: while exchanges wait, the lanes must keep getting responses. When
// none has come for the context's time limit (every lane stuck on a silent or unreachable
// server), every waiting exchange ends with boost::beast::error::timeout. A slow server that keeps
// answering keeps the queue moving however long it is. cancel_all ends the waits at once with
// operation_aborted.
//
// The lanes' connections hold I/O objects of the context's I/O context; should that context go
// first, they are let go with it, and the pool touches it no more.
class lane_pool
{
public:
    lane_pool(context& ctx, std::size_t lanes);
    ~lane_pool();
    lane_pool(const lane_pool&) = delete;
    lane_pool& operator=(const lane_pool&) = delete;

    context& client() const { return m_ctx; }

    // digest_request on a lane of the pool, once every exchange asked for earlier has one.
    QCoro::Task<response_result> digest_request(endpoints resolved, std::string host, boost::beast::http::verb method,
                                                std::string target, std::string contentType,
                                                std::uint64_t contentLength, std::string body);
    QCoro::Task<response_result> digest_request(endpoints resolved, std::string host, boost::beast::http::verb method,
                                                std::string target, std::string contentType,
                                                std::uint64_t contentLength, boost::beast::multi_buffer& body);

    // Closes every connection (the server's address changed, or the program is ending); the
    // next exchange on each lane connects again. The Digest states stay.
    void close_connections();

private:
    class waiter;
    class registry;
    struct slot
    {
        http_client::lane line;
        bool busy = false;
    };
    using clock = std::chrono::steady_clock;

    template <class Body>
    QCoro::Task<response_result> run(endpoints resolved, std::string host, boost::beast::http::verb method,
                                     std::string target, std::string contentType, std::uint64_t contentLength,
                                     Body body);
    slot* take_free();
    void enqueue(waiter& w);
    void withdraw(waiter& w);
    void hand_over(waiter& w, slot* granted, boost::system::error_code error);
    void release(slot& s, bool answered);
    void watchdog_fired();
    void io_gone();

    context& m_ctx;
    std::vector<std::unique_ptr<slot>> m_slots;
    std::deque<waiter*> m_queue;
    // Set a time limit ahead whenever exchanges begin to wait and whenever a response comes
    // while they wait.
    lazy_timer m_watchdog;
    registry* m_registry = nullptr;
};

} // namespace http_client
