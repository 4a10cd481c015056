#pragma once

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstddef>

namespace SkerryTool {

// Runs one asynchronous operation of the client's context to its end, waiting at most a given
// time: the client's calls block like synchronous ones but never without bound (a socket's own
// time-out options do not bound Asio's synchronous calls). When the time runs out, `abort`
// closes the operation's socket, the operation completes as aborted, and the outcome says
// timed_out. Only one operation runs at a time.
class TimedRunner {
public:
    struct Outcome {
        boost::system::error_code error;
        std::size_t bytes = 0;
    };

    explicit TimedRunner(boost::asio::io_context& context) noexcept : m_context(context) {}

    // `start(handler)` begins the operation; the handler takes (error_code, bytes transferred).
    template <class Start, class Abort>
    Outcome run(std::chrono::steady_clock::duration limit, Start&& start, Abort&& abort)
    {
        Outcome outcome;
        bool done = false;
        start([&outcome, &done](const boost::system::error_code& error, std::size_t bytes) {
            outcome = Outcome{error, bytes};
            done = true;
        });
        m_context.restart();
        m_context.run_for(limit);
        if (!done) {
            abort();
            // Closing the socket completes the operation at once; its handler still refers to
            // this frame, so it must run before we return.
            m_context.restart();
            m_context.run();
            outcome.error = boost::asio::error::timed_out;
        }
        return outcome;
    }

private:
    boost::asio::io_context& m_context;
};

} // namespace SkerryTool
