#pragma once

#include "display/http/http_client_expected.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/asio/connect.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/system/error_code.hpp>

#include <cassert>
#include <coroutine>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Awaitables that bridge one Boost.Asio/Beast operation to a coroutine. Awaiting always
// suspends; the suspension starts the operation; its completion handler stores the outcome and
// resumes the coroutine from inside the I/O context's run (on the thread that polls it).
namespace http_client {

// The error an exchange ends with when an exception was thrown inside one of its operations.
inline boost::system::error_code exchange_failed()
{
    return boost::system::errc::make_error_code(boost::system::errc::io_error);
}


template <class T>
class operation_awaitable
{
public:
    using result_type = expected<T, boost::system::error_code>;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        assert(m_start && "an awaitable without an operation to start");
        m_start(handle);
    }
    result_type await_resume() { return std::move(**m_result); }

protected:
    // The result slot is shared with the completion handler, so the awaitable may be moved
    // before it is awaited.
    using slot_type = std::shared_ptr<std::optional<result_type>>;

    // Resumes the coroutine exactly once. When an operation's handler is destroyed without being
    // run (an exception thrown inside the operation unwound it out of the I/O context's run), the
    // coroutine is resumed with exchange_failed through the executor instead, so no exchange
    // waits forever for a completion that will never come.
    template <class Executor>
    class resumption
    {
    public:
        resumption(slot_type slot, std::coroutine_handle<> handle, Executor executor)
            : m_slot(std::move(slot)), m_handle(handle), m_executor(std::move(executor))
        {
        }
        resumption(const resumption&) = delete;
        resumption& operator=(const resumption&) = delete;
        ~resumption()
        {
            if (m_resumed)
                return;
            boost::asio::post(m_executor, [slot = m_slot, handle = m_handle] {
                slot->emplace(exchange_failed());
                handle.resume();
            });
        }
        void resume(result_type result)
        {
            m_resumed = true;
            m_slot->emplace(std::move(result));
            m_handle.resume();
        }

    private:
        slot_type m_slot;
        std::coroutine_handle<> m_handle;
        Executor m_executor;
        bool m_resumed = false;
    };

    // A completion handler for an operation that completes with (error_code, T).
    template <class Executor>
    static auto completion(slot_type slot, std::coroutine_handle<> handle, Executor executor)
    {
        auto once = std::make_shared<resumption<Executor>>(std::move(slot), handle, std::move(executor));
        return [once = std::move(once)](const boost::system::error_code& error, T value) {
            if (error)
                once->resume(error);
            else
                once->resume(std::move(value));
        };
    }

    std::function<void(std::coroutine_handle<>)> m_start;
    slot_type m_result = std::make_shared<std::optional<result_type>>();
};

struct async_resolve : operation_awaitable<boost::asio::ip::tcp::resolver::results_type>
{
    async_resolve(boost::asio::ip::tcp::resolver& resolver, std::string host, std::string service)
    {
        m_start = [slot = m_result, &resolver, host = std::move(host), service = std::move(service)](std::coroutine_handle<> h) {
            resolver.async_resolve(host, service, completion(slot, h, resolver.get_executor()));
        };
    }
};

// Tries the endpoints in order until one connects; the value is the endpoint that connected.
struct async_connect : operation_awaitable<boost::asio::ip::tcp::endpoint>
{
    async_connect(boost::asio::ip::tcp::socket& socket, const boost::asio::ip::tcp::resolver::results_type& endpoints)
    {
        m_start = [slot = m_result, &socket, endpoints](std::coroutine_handle<> h) {
            boost::asio::async_connect(socket, endpoints,
                                       operation_awaitable<boost::asio::ip::tcp::endpoint>::completion(slot, h, socket.get_executor()));
        };
    }
};

// Writes the whole message; the value is the number of bytes written.
template <class Request>
struct async_write : operation_awaitable<std::size_t>
{
    async_write(boost::asio::ip::tcp::socket& stream, Request& request)
    {
        m_start = [slot = this->m_result, &stream, &request](std::coroutine_handle<> h) {
            boost::beast::http::async_write(stream, request, operation_awaitable<std::size_t>::completion(slot, h, stream.get_executor()));
        };
    }
};

// Reads one whole message; the value is the number of bytes read.
template <class Response>
struct async_read : operation_awaitable<std::size_t>
{
    async_read(boost::asio::ip::tcp::socket& stream, boost::beast::flat_buffer& buffer, Response& response)
    {
        m_start = [slot = this->m_result, &stream, &buffer, &response](std::coroutine_handle<> h) {
            boost::beast::http::async_read(stream, buffer, response, operation_awaitable<std::size_t>::completion(slot, h, stream.get_executor()));
        };
    }
};

// Reads up to the end of a response's header; the body is left for async_read_some.
template <class Parser>
struct async_read_header : operation_awaitable<std::size_t>
{
    async_read_header(boost::asio::ip::tcp::socket& stream, boost::beast::flat_buffer& buffer, Parser& parser)
    {
        m_start = [slot = this->m_result, &stream, &buffer, &parser](std::coroutine_handle<> h) {
            boost::beast::http::async_read_header(stream, buffer, parser, operation_awaitable<std::size_t>::completion(slot, h, stream.get_executor()));
        };
    }
};

// Reads some of a message's body into the parser; the value is the number of bytes read.
template <class Parser>
struct async_read_some : operation_awaitable<std::size_t>
{
    async_read_some(boost::asio::ip::tcp::socket& stream, boost::beast::flat_buffer& buffer, Parser& parser)
    {
        m_start = [slot = this->m_result, &stream, &buffer, &parser](std::coroutine_handle<> h) {
            boost::beast::http::async_read_some(stream, buffer, parser, operation_awaitable<std::size_t>::completion(slot, h, stream.get_executor()));
        };
    }
};

} // namespace http_client
