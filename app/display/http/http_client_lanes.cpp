#include "display/http/http_client_lanes.h"

#include "display/http/http_client_cancel_registration.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>

#include <QtGlobal>

#include <algorithm>
#include <coroutine>
#include <functional>
#include <set>
#include <utility>

namespace http_client {

using boost::system::error_code;

// ---- lane -----------------------------------------------------------------------------------------

lane::lane()
    : m_deadline([this] {
        m_timedOut = true;
        close();
    })
{
}

bool lane::connected() const
{
    return m_socket && m_socket->is_open();
}

bool lane::reusable_for(const endpoints& resolved)
{
    if (!connected())
        return false;
    if (std::none_of(resolved.begin(), resolved.end(), [this](const auto& entry) { return entry.endpoint() == m_peer; }))
        return false;
    // A look at the socket, without waiting: nothing to read means a quiet open connection. A
    // server whose idle limit ran out has closed it (end of stream, or a reset), and one that sent
    // something unasked (a 408 before closing, a stray reply) left bytes that no request of ours
    // asked for.
    char byte = 0;
    error_code state;
    const std::size_t unread =
        m_socket->receive(boost::asio::buffer(&byte, 1), boost::asio::socket_base::message_peek, state);
    if (state == boost::asio::error::would_block)
        return true;
    // A close is routine; bytes nobody asked for are worth a line.
    if (!state && unread > 0)
        qDebug("http_client: a kept connection holds bytes no request asked for; not used again");
    return false;
}

void lane::close()
{
    if (!m_socket)
        return;
    error_code ignored;
    m_socket->shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket->close(ignored);
}

boost::asio::ip::tcp::socket& lane::open_socket(boost::asio::io_context& ioc)
{
    discard();
    m_buffer.clear();
    ++m_opened;
    return m_socket.emplace(ioc);
}

void lane::connected_to(const boost::asio::ip::tcp::endpoint& peer)
{
    m_peer = peer;
    error_code ignored;
    // Requests go as one write each and wait for their answer: nothing is gained by holding
    // small segments back.
    m_socket->set_option(boost::asio::ip::tcp::no_delay(true), ignored);
    // Lets reusable_for look at the socket without blocking; asynchronous operations are not
    // affected.
    m_socket->non_blocking(true, ignored);
}

void lane::discard()
{
    close();
    m_socket.reset();
}

void lane::start_deadline(boost::asio::io_context& ioc, clock::duration limit)
{
    m_timedOut = false;
    m_deadline.set(ioc, clock::now() + limit);
}

void lane::end_deadline()
{
    m_deadline.clear();
}

void lane::let_go()
{
    discard();
    m_deadline.release();
}

// ---- the pool's registration with its I/O context -----------------------------------------------

// Lets the pools of one I/O context go with it: when the context shuts down (its owner may
// destroy it before the pools' owner), every pool lets its I/O objects go while the context's
// services still exist.
class lane_pool::registry : public boost::asio::execution_context::service
{
public:
    static inline boost::asio::execution_context::id id;

    explicit registry(boost::asio::execution_context& owner)
        : service(owner)
    {
    }

    void add(lane_pool* pool) { m_pools.insert(pool); }
    void remove(lane_pool* pool) { m_pools.erase(pool); }

private:
    void shutdown() override
    {
        const std::set<lane_pool*> pools = std::move(m_pools);
        m_pools.clear();
        for (lane_pool* pool : pools)
            pool->io_gone();
    }

    std::set<lane_pool*> m_pools;
};

// ---- waiting for a lane -------------------------------------------------------------------------

// An exchange waiting for a lane, awaited in its coroutine's frame. Suspends only when every lane
// is busy or others wait already; it is then resumed (through the I/O context, never from inside
// the code that freed the lane) with a lane, or with an error when its wait was cancelled or
// ran past the bound.
class lane_pool::waiter
{
public:
    explicit waiter(lane_pool& pool)
        : m_pool(pool)
    {
    }
    waiter(const waiter&) = delete;
    waiter& operator=(const waiter&) = delete;

    // What the coroutine awaits; the waiter itself stays where it is.
    struct turn
    {
        waiter& w;
        bool await_ready() { return w.ready(); }
        void await_suspend(std::coroutine_handle<> handle) { w.suspend(handle); }
        expected<slot*, error_code> await_resume() { return w.resume(); }
    };

    bool ready()
    {
        m_granted = m_pool.take_free();
        return m_granted != nullptr;
    }

    void suspend(std::coroutine_handle<> handle)
    {
        m_handle = handle;
        m_pool.enqueue(*this);
        m_registration.emplace(m_pool.m_ctx, [this] { m_pool.withdraw(*this); });
    }

    expected<slot*, error_code> resume()
    {
        const bool cancelled = m_registration && m_registration->cancelled();
        m_registration.reset();
        if (cancelled && m_granted) {
            // Cancelled after the lane was handed over but before this ran: the lane goes on.
            m_pool.release(*m_granted, false);
            m_granted = nullptr;
        }
        if (cancelled)
            return error_code(boost::asio::error::operation_aborted);
        if (!m_granted)
            return m_error;
        return m_granted;
    }

    // Called by the pool, once, when the wait ends.
    void finish(slot* granted, error_code error)
    {
        m_granted = granted;
        m_error = error;
        boost::asio::post(m_pool.m_ctx.ioc, [handle = m_handle] { handle.resume(); });
    }

private:
    lane_pool& m_pool;
    std::coroutine_handle<> m_handle;
    slot* m_granted = nullptr;
    error_code m_error;
    std::optional<cancel_registration> m_registration;
};

// ---- lane_pool ----------------------------------------------------------------------------------

lane_pool::lane_pool(context& ctx, std::size_t lanes)
    : m_ctx(ctx)
    , m_watchdog([this] { watchdog_fired(); })
{
    for (std::size_t i = 0; i < std::max<std::size_t>(lanes, 1); ++i)
        m_slots.push_back(std::make_unique<slot>());
    m_registry = &boost::asio::use_service<registry>(ctx.ioc);
    m_registry->add(this);
}

lane_pool::~lane_pool()
{
    if (m_registry)
        m_registry->remove(this);
}

QCoro::Task<response_result> lane_pool::digest_request(endpoints resolved, std::string host,
                                                       boost::beast::http::verb method, std::string target,
                                                       std::string contentType, std::uint64_t contentLength,
                                                       std::string body)
{
    return run(std::move(resolved), std::move(host), method, std::move(target), std::move(contentType), contentLength,
               std::move(body));
}

QCoro::Task<response_result> lane_pool::digest_request(endpoints resolved, std::string host,
                                                       boost::beast::http::verb method, std::string target,
                                                       std::string contentType, std::uint64_t contentLength,
                                                       boost::beast::multi_buffer& body)
{
    return run(std::move(resolved), std::move(host), method, std::move(target), std::move(contentType), contentLength,
               std::ref(body));
}

template <class Body>
QCoro::Task<response_result> lane_pool::run(endpoints resolved, std::string host, boost::beast::http::verb method,
                                            std::string target, std::string contentType,
                                            std::uint64_t contentLength, Body body)
{
    waiter wait(*this);
    const auto granted = co_await waiter::turn{wait};
    if (!granted)
        co_return granted.error();

    // The lane goes to the next exchange however this one ends.
    struct lease
    {
        lane_pool& pool;
        slot& taken;
        bool answered = false;
        ~lease() { pool.release(taken, answered); }
    } held{*this, *granted.value()};
    auto result = co_await http_client::digest_request(m_ctx, held.taken.line, std::move(resolved), std::move(host),
                                                       method, std::move(target), std::move(contentType),
                                                       contentLength, std::move(body));
    held.answered = result.has_value();
    co_return result;
}

void lane_pool::close_connections()
{
    for (const auto& s : m_slots)
        s->line.close();
}

lane_pool::slot* lane_pool::take_free()
{
    if (!m_queue.empty())
        return nullptr; // those who wait go first
    slot* found = nullptr;
    for (const auto& s : m_slots) {
        if (s->busy)
            continue;
        if (s->line.connected()) {
            found = s.get();
            break;
        }
        if (!found)
            found = s.get();
    }
    if (found)
        found->busy = true;
    return found;
}

void lane_pool::enqueue(waiter& w)
{
    if (m_queue.empty())
        m_watchdog.set(m_ctx.ioc, clock::now() + m_ctx.time_limit);
    m_queue.push_back(&w);
}

void lane_pool::withdraw(waiter& w)
{
    const auto queued = std::find(m_queue.begin(), m_queue.end(), &w);
    if (queued == m_queue.end())
        return; // already handed a lane; it sees the cancellation when it resumes
    m_queue.erase(queued);
    w.finish(nullptr, boost::asio::error::operation_aborted);
}

void lane_pool::release(slot& s, bool answered)
{
    if (m_queue.empty()) {
        s.busy = false;
        return;
    }
    if (answered)
        m_watchdog.set(m_ctx.ioc, clock::now() + m_ctx.time_limit);
    waiter* next = m_queue.front();
    m_queue.pop_front();
    next->finish(&s, {});
}

void lane_pool::watchdog_fired()
{
    if (m_queue.empty())
        return;
    qWarning("http_client: no response from the server for %lld ms; %zu waiting exchanges end",
             static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(m_ctx.time_limit).count()),
             m_queue.size());
    const std::deque<waiter*> waiting = std::move(m_queue);
    m_queue.clear();
    for (waiter* w : waiting)
        w->finish(nullptr, boost::beast::error::timeout);
}

void lane_pool::io_gone()
{
    for (const auto& s : m_slots)
        s->line.let_go();
    m_watchdog.release();
    m_registry = nullptr;
}

} // namespace http_client
