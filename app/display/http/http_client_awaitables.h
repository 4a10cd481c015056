#pragma once

#include "display/http/http_client_expected.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
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

    // A completion handler for an operation that completes with (error_code, T).
    static auto completion(slot_type slot, std::coroutine_handle<> handle)
    {
        return [slot = std::move(slot), handle](const boost::system::error_code& error, T value) {
            if (error)
                slot->emplace(error);
            else
                slot->emplace(std::move(value));
            handle.resume();
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
            resolver.async_resolve(host, service, completion(slot, h));
        };
    }
};

// Tries the endpoints in order until one connects; the value is the endpoint that connected.
struct async_connect : operation_awaitable<boost::asio::ip::tcp::endpoint>
{
    async_connect(boost::beast::tcp_stream& stream, const boost::asio::ip::tcp::resolver::results_type& endpoints)
    {
        m_start = [slot = m_result, &stream, endpoints](std::coroutine_handle<> h) {
            stream.async_connect(endpoints, completion(slot, h));
        };
    }
};

// Writes the whole message; the value is the number of bytes written.
template <class Request>
struct async_write : operation_awaitable<std::size_t>
{
    async_write(boost::beast::tcp_stream& stream, Request& request)
    {
        m_start = [slot = this->m_result, &stream, &request](std::coroutine_handle<> h) {
            boost::beast::http::async_write(stream, request, completion(slot, h));
        };
    }
};

// Reads one whole message; the value is the number of bytes read.
template <class Response>
struct async_read : operation_awaitable<std::size_t>
{
    async_read(boost::beast::tcp_stream& stream, boost::beast::flat_buffer& buffer, Response& response)
    {
        m_start = [slot = this->m_result, &stream, &buffer, &response](std::coroutine_handle<> h) {
            boost::beast::http::async_read(stream, buffer, response, completion(slot, h));
        };
    }
};

} // namespace http_client
