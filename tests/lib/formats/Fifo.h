#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>

// A FIFO where a writer expects a file, and a way to learn whether a call waits on it. A call
// that still runs after the time-out is set free before the answer is given: the FIFO is opened
// for reading and drained, so no thread stays blocked in it.
class Fifo {
public:
    explicit Fifo(std::string path) : m_path(std::move(path)) { m_made = ::mkfifo(m_path.c_str(), 0600) == 0; }
    ~Fifo() { ::unlink(m_path.c_str()); }
    Fifo(const Fifo&) = delete;
    Fifo& operator=(const Fifo&) = delete;

    bool made() const { return m_made; }
    const std::string& path() const { return m_path; }

    // True when fn returned within the time-out, false when it was still waiting on the FIFO.
    bool callReturns(const std::function<void()>& fn, std::chrono::milliseconds timeOut = std::chrono::seconds(5)) const
    {
        std::future<void> call = std::async(std::launch::async, fn);
        if (call.wait_for(timeOut) == std::future_status::ready) {
            call.get();
            return true;
        }
        const int reader = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const auto deadline = std::chrono::steady_clock::now() + kRelease;
        char buffer[4096];
        while (call.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready
               && std::chrono::steady_clock::now() < deadline)
            while (reader >= 0 && ::read(reader, buffer, sizeof buffer) > 0) {
            }
        if (reader >= 0)
            ::close(reader);
        if (call.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            try {
                call.get();
            } catch (...) {
            }
        }
        return false;
    }

private:
    // How long a call set free may take to finish writing into the drained FIFO.
    static constexpr std::chrono::seconds kRelease{30};

    std::string m_path;
    bool m_made = false;
};
