#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace http_client {

// Calls a function once a deadline has passed, unless the deadline was cleared or moved later
// first. Deadlines are set far more often than they pass (one per step of every exchange), so
// the timer is set again only when it fires: a deadline moved later, or met and cleared, costs
// no timer operation, and a fire before the current deadline waits on for the rest.
class lazy_timer
{
public:
    using clock = std::chrono::steady_clock;

    explicit lazy_timer(std::function<void()> expired);
    ~lazy_timer();
    lazy_timer(const lazy_timer&) = delete;
    lazy_timer& operator=(const lazy_timer&) = delete;

    // The function runs once `at` has passed, on the I/O context's thread.
    void set(boost::asio::io_context& ioc, clock::time_point at);
    void clear();
    // Lets the timer go: its I/O context is going.
    void release();

private:
    void arm();
    void fired();

    std::function<void()> m_expired;
    std::optional<boost::asio::steady_timer> m_timer;
    bool m_armed = false;
    clock::time_point m_at = clock::time_point::max();
    std::shared_ptr<lazy_timer*> m_self; // lets a late handler see that the timer is gone
};

} // namespace http_client
