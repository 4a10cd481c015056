#include "support/ProcessorSimulator.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <future>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

constexpr std::chrono::seconds kQueryLimit{5};

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string md5Hex(const std::string& text)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Md5).toHex().toStdString();
}

std::string quoted(std::string_view value)
{
    std::string text = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            text += '\\';
        text += c;
    }
    return text + '"';
}

// The parameters of an Authorization value "Digest name=value, name="value", ...", with quoted
// values unescaped. Nothing when the scheme is not Digest or the syntax is broken.
std::optional<std::map<std::string, std::string>> parseAuthorization(std::string_view text)
{
    constexpr std::string_view scheme = "Digest ";
    if (text.size() < scheme.size() || !equalsIgnoringCase(text.substr(0, scheme.size()), scheme))
        return std::nullopt;
    std::map<std::string, std::string> params;
    std::size_t pos = scheme.size();
    const auto skip = [&](std::string_view chars) {
        while (pos < text.size() && chars.find(text[pos]) != std::string_view::npos)
            ++pos;
    };
    while (true) {
        skip(" \t,");
        if (pos >= text.size())
            return params;
        const std::size_t equals = text.find('=', pos);
        if (equals == std::string_view::npos)
            return std::nullopt;
        std::string name;
        for (const char c : text.substr(pos, equals - pos))
            name += lower(c);
        pos = equals + 1;
        std::string value;
        if (pos < text.size() && text[pos] == '"') {
            ++pos;
            while (pos < text.size() && text[pos] != '"') {
                if (text[pos] == '\\' && pos + 1 < text.size())
                    ++pos;
                value += text[pos++];
            }
            if (pos >= text.size())
                return std::nullopt;
            ++pos;
        } else {
            const std::size_t end = std::min(text.find(',', pos), text.size());
            value = std::string(text.substr(pos, end - pos));
            pos = end;
        }
        if (params.contains(name))
            return std::nullopt; // a repeated parameter is a broken request
        params[name] = value;
    }
}

bool offers(std::string_view list, std::string_view item)
{
    std::size_t pos = 0;
    while (pos <= list.size()) {
        const std::size_t end = std::min(list.find(',', pos), list.size());
        std::string_view piece = list.substr(pos, end - pos);
        while (!piece.empty() && piece.front() == ' ')
            piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == ' ')
            piece.remove_suffix(1);
        if (piece == item)
            return true;
        pos = end + 1;
    }
    return false;
}

} // namespace

ProcessorSimulator::Reply ProcessorSimulator::Reply::json(std::string body, unsigned status)
{
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

ProcessorSimulator::Reply ProcessorSimulator::Reply::text(std::string body, unsigned status)
{
    Reply reply = json(std::move(body), status);
    reply.contentType = "text/plain";
    return reply;
}

ProcessorSimulator::Reply ProcessorSimulator::Reply::withEnding(Ending ending)
{
    Reply reply;
    reply.ending = ending;
    return reply;
}

std::optional<std::string> ProcessorSimulator::Request::header(std::string_view name) const
{
    for (const auto& [fieldName, value] : headers) {
        if (equalsIgnoringCase(fieldName, name))
            return value;
    }
    return std::nullopt;
}

std::size_t ProcessorSimulator::Request::headerCount(std::string_view name) const
{
    std::size_t count = 0;
    for (const auto& header : headers)
        count += equalsIgnoringCase(header.first, name) ? 1 : 0;
    return count;
}

std::string ProcessorSimulator::Request::authParam(std::string_view name) const
{
    const auto authorization = header("Authorization");
    if (!authorization)
        return {};
    const auto params = parseAuthorization(*authorization);
    if (!params)
        return {};
    const auto it = params->find(std::string(name));
    return it == params->end() ? std::string() : it->second;
}

class ProcessorSimulator::Impl
{
public:
    Impl()
        : m_acceptor(m_ioc, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0))
    {
        m_port = m_acceptor.local_endpoint().port();
        accept();
        m_thread = std::thread([this] { m_ioc.run(); });
    }

    ~Impl()
    {
        m_work.reset();
        m_ioc.stop();
        m_thread.join();
    }

    std::uint16_t port() const { return m_port; }

    // What one connection holds between its requests.
    struct Connection
    {
        std::size_t id = 0;
        std::string nonce; // strict Digest: the nonce issued on this connection
        bool counted = true; // among the open connections
    };

    // What the server answers to a request, decided under the lock; the verdict goes into the
    // log entry. In slow mode the reply waits for its turn as well.
    Reply decide(Request& request, Connection& connection)
    {
        Reply reply = chooseReply(request, connection);
        std::lock_guard lock(m_mutex);
        if (m_slowStep.count() > 0) {
            const auto now = std::chrono::steady_clock::now();
            m_slowUntil = std::max(m_slowUntil, now) + m_slowStep;
            reply.delay += std::chrono::duration_cast<std::chrono::milliseconds>(m_slowUntil - now);
        }
        return reply;
    }

    Reply chooseReply(Request& request, Connection& connection)
    {
        Handler handler;
        Watcher watcher;
        std::optional<Reply> reply;
        {
            std::lock_guard lock(m_mutex);
            request.connection = connection.id;
            const std::optional<Reply> refusal = checkDigest(request, connection);
            request.authorized = !refusal;
            if (m_keepLog)
                m_log.push_back(request);
            watcher = m_watcher;
            if (refusal) {
                reply = refusal;
            } else if (const auto route = m_routes.find({request.method, request.target}); route != m_routes.end()) {
                Route& r = route->second;
                reply = r.replies[std::min(r.next, r.replies.size() - 1)];
                ++r.next;
            } else {
                handler = m_handler;
            }
        }
        if (watcher)
            watcher(request);
        if (reply)
            return *reply;
        if (handler)
            return handler(request);
        return Reply::text("not found", 404);
    }

    // Counts a new connection; false when it is over the limit and must be closed at once.
    bool admit(Connection& connection)
    {
        std::lock_guard lock(m_mutex);
        if (m_connectionLimit != 0 && m_open >= m_connectionLimit) {
            ++m_counts.refused;
            connection.counted = false;
            return false;
        }
        connection.id = ++m_counts.accepted;
        m_counts.peak = std::max(m_counts.peak, ++m_open);
        return true;
    }

    void closed(Connection& connection)
    {
        std::lock_guard lock(m_mutex);
        if (connection.counted)
            --m_open;
        connection.counted = false;
    }

    KeepAlive keepAlive() const
    {
        std::lock_guard lock(m_mutex);
        return m_keepAlive;
    }

    bool stalled() const
    {
        std::lock_guard lock(m_mutex);
        return m_stalled;
    }

    // How long a kept connection may stay idle and how its idle time then ends; nothing when it
    // may stay idle.
    std::optional<std::pair<IdleEnd, std::chrono::milliseconds>> idleLimit() const
    {
        std::lock_guard lock(m_mutex);
        if (m_idleEnd == IdleEnd::Stay)
            return std::nullopt;
        return std::pair{m_idleEnd, m_idleLimit};
    }

    // The end for the idle time of the connection a request now arrives on, if one is due; once.
    std::optional<IdleEnd> takeRace()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_race, std::nullopt);
    }

    void idleEnded()
    {
        std::lock_guard lock(m_mutex);
        ++m_idleEnds;
    }

    void replied()
    {
        std::lock_guard lock(m_mutex);
        ++m_replies;
    }

    mutable std::mutex m_mutex; // guards everything below it
    std::optional<Digest> m_digest;
    unsigned m_nonceSerial = 1;
    std::string m_nonce = makeNonce(1);
    struct Route
    {
        std::vector<Reply> replies;
        std::size_t next = 0;
    };
    std::map<std::pair<std::string, std::string>, Route> m_routes;
    Handler m_handler;
    Watcher m_watcher;
    bool m_keepLog = true;
    bool m_stalled = false;
    std::vector<Request> m_log;
    KeepAlive m_keepAlive = KeepAlive::On;
    std::size_t m_connectionLimit = 0;
    std::size_t m_open = 0;
    Connections m_counts;
    std::chrono::milliseconds m_slowStep{0};
    std::chrono::steady_clock::time_point m_slowUntil;
    IdleEnd m_idleEnd = IdleEnd::Stay;
    std::chrono::milliseconds m_idleLimit{0};
    std::optional<IdleEnd> m_race; // the end due for the next request on a kept connection
    std::size_t m_idleEnds = 0;
    std::size_t m_replies = 0;
    std::map<std::string, std::uint64_t> m_nonceCounts; // strict Digest: the last count of each nonce

    static std::string makeNonce(unsigned serial)
    {
        // 17 bytes, so the base64 text ends in "=" as a standard server's often does.
        char raw[32];
        std::snprintf(raw, sizeof raw, "kestra-nonce-%04u", serial % 10000);
        return QByteArray(raw).toBase64().toStdString();
    }

    std::string challenge(const std::string& nonce, bool stale) const
    {
        const Digest& d = *m_digest;
        std::string value = "Digest realm=" + quoted(d.realm);
        if (!d.qop.empty())
            value += ", qop=" + quoted(d.qop);
        value += ", nonce=" + quoted(nonce);
        if (d.opaque)
            value += ", opaque=" + quoted(*d.opaque);
        if (!d.algorithm.empty())
            value += ", algorithm=" + d.algorithm;
        if (stale)
            value += ", stale=true";
        return value;
    }

    // Nothing when the request may pass; otherwise the 401 to send. Caller holds the lock.
    std::optional<Reply> checkDigest(const Request& request, Connection& connection)
    {
        if (!m_digest)
            return std::nullopt;
        const Digest& d = *m_digest;
        if (d.strict && connection.nonce.empty())
            connection.nonce = makeNonce(++m_nonceSerial);
        const std::string& current = d.strict ? connection.nonce : m_nonce;
        bool stale = false;
        if (const auto authorization = request.header("Authorization")) {
            const auto p = parseAuthorization(*authorization);
            if (p && verify(*p, request)) {
                if (p->at("nonce") != current)
                    stale = true;
                else if (!d.strict || nextCount(current, *p))
                    return std::nullopt;
            }
        }
        Reply refusal = Reply::text("Unauthorized", 401);
        for (const std::string& other : d.challengesBefore)
            refusal.headers.emplace_back("WWW-Authenticate", other);
        refusal.headers.emplace_back("WWW-Authenticate", challenge(current, stale));
        return refusal;
    }

    // A strict server's replay check: the count must be the one after the nonce's last.
    bool nextCount(const std::string& nonce, const std::map<std::string, std::string>& p)
    {
        if (m_digest->qop.empty())
            return true; // without qop there is no count
        std::uint64_t& last = m_nonceCounts[nonce];
        const auto nc = p.find("nc");
        if (nc == p.end() || std::stoull(nc->second, nullptr, 16) != last + 1)
            return false;
        ++last;
        return true;
    }

    // The response hash and every parameter it depends on, except the nonce's freshness.
    bool verify(const std::map<std::string, std::string>& p, const Request& request) const
    {
        const Digest& d = *m_digest;
        const auto get = [&p](const char* name) {
            const auto it = p.find(name);
            return it == p.end() ? std::string() : it->second;
        };
        if (get("username") != d.username || get("realm") != d.realm || get("uri") != request.target
            || get("nonce").empty())
            return false;
        // As a standard server: the opaque comes back unchanged when one was sent, and not at all
        // (not even empty) when none was.
        if (d.opaque ? (!p.contains("opaque") || p.at("opaque") != *d.opaque) : p.contains("opaque"))
            return false;
        if (!get("algorithm").empty() && get("algorithm") != "MD5")
            return false;
        const std::string ha1 = md5Hex(d.username + ':' + d.realm + ':' + d.password);
        const std::string ha2 = md5Hex(request.method + ':' + request.target);
        std::string expected;
        if (d.qop.empty()) {
            if (!get("qop").empty())
                return false;
            expected = md5Hex(ha1 + ':' + get("nonce") + ':' + ha2);
        } else {
            const std::string nc = get("nc");
            const bool ncValid = nc.size() == 8 && nc.find_first_not_of("0123456789abcdef") == std::string::npos;
            if (get("qop") != "auth" || !offers(d.qop, "auth") || !ncValid || get("cnonce").empty())
                return false;
            expected = md5Hex(ha1 + ':' + get("nonce") + ':' + nc + ':' + get("cnonce") + ":auth:" + ha2);
        }
        return get("response") == expected;
    }

    class Session;
    void accept();

    asio::io_context m_ioc;
    asio::executor_work_guard<asio::io_context::executor_type> m_work = asio::make_work_guard(m_ioc);
    tcp::acceptor m_acceptor;
    std::vector<tcp::socket> m_stalledSockets; // server thread only
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

// One connection: read a request, answer as scripted, and read the next one while the connection
// is kept; close when it is not.
class ProcessorSimulator::Impl::Session : public std::enable_shared_from_this<Session>
{
public:
    Session(tcp::socket socket, ProcessorSimulator::Impl& server, Connection connection)
        : m_socket(std::move(socket))
        , m_server(server)
        , m_timer(m_socket.get_executor())
        , m_connection(std::move(connection))
    {
    }

    ~Session() { m_server.closed(m_connection); }

    void start()
    {
        m_parser.emplace();
        m_parser->body_limit(std::numeric_limits<std::uint64_t>::max());
        http::async_read(m_socket, m_buffer, *m_parser, [self = shared_from_this()](error_code ec, std::size_t) {
            if (!ec)
                self->handle();
            else
                self->close();
        });
    }

private:
    void handle()
    {
        const auto& message = m_parser->get();
        ProcessorSimulator::Request request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        for (const auto& field : message)
            request.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
        request.body = message.body();
        request.received = std::chrono::steady_clock::now();
        m_clientKeeps = message.keep_alive();
        m_reply = m_server.decide(request, m_connection);

        if (m_reply.delay.count() > 0) {
            m_timer.expires_after(m_reply.delay);
            m_timer.async_wait([self = shared_from_this()](error_code ec) {
                if (!ec)
                    self->end();
            });
        } else {
            end();
        }
    }

    void end()
    {
        using Ending = ProcessorSimulator::Ending;
        switch (m_reply.ending) {
        case Ending::Answer:
            answer();
            break;
        case Ending::CloseWithoutAnswer:
            close();
            break;
        case Ending::TruncatedBody:
            truncate();
            break;
        case Ending::NeverAnswer:
            idle();
            break;
        case Ending::Raw:
            asio::async_write(m_socket, asio::buffer(m_reply.body), [self = shared_from_this()](error_code, std::size_t) {
                self->close();
            });
            break;
        }
    }

    void answer()
    {
        using KeepAlive = ProcessorSimulator::KeepAlive;
        const KeepAlive keepAlive = m_server.keepAlive();
        const bool promised = keepAlive != KeepAlive::Off && m_clientKeeps;
        const bool kept = promised && keepAlive == KeepAlive::On;
        m_response = {};
        m_response.result(m_reply.status);
        m_response.version(11);
        if (!m_reply.contentType.empty())
            m_response.set(http::field::content_type, m_reply.contentType);
        for (const auto& [name, value] : m_reply.headers)
            m_response.insert(name, value);
        m_response.body() = m_reply.body;
        m_response.keep_alive(promised);
        m_response.prepare_payload();
        if (promised && !kept)
            holdUntilClose();
        http::async_write(m_socket, m_response, [self = shared_from_this(), kept](error_code ec, std::size_t) {
            if (!ec)
                self->m_server.replied();
            if (!ec && kept)
                self->awaitNext();
            else
                self->close();
        });
    }

    // Holds what is written back until the close, so that the reply and the close leave in one
    // segment: the client sees the connection closed as soon as it has the reply, as one whose
    // idle limit ran out before the next request rather than one whose close races it.
    void holdUntilClose()
    {
        const int on = 1;
        ::setsockopt(m_socket.native_handle(), IPPROTO_TCP, TCP_CORK, &on, sizeof on);
    }

    // Waits for the next request on a kept connection, and ends its idle time first when the
    // server is told to: after the idle limit, or as the request arrives.
    void awaitNext()
    {
        m_idleOver = false;
        if (const auto limit = m_server.idleLimit()) {
            m_timer.expires_after(limit->second);
            m_timer.async_wait([self = shared_from_this(), end = limit->first](error_code ec) {
                if (!ec)
                    self->idleTimeUp(end);
            });
        }
        m_socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](error_code ec) { self->arriving(ec); });
    }

    void idleTimeUp(ProcessorSimulator::IdleEnd end)
    {
        if (m_idleOver)
            return;
        m_idleOver = true;
        error_code ignored;
        m_socket.cancel(ignored); // the wait for the next request ends unheeded
        endIdle(end);
    }

    // The next request's first bytes (or the client's close) have arrived.
    void arriving(error_code ec)
    {
        if (m_idleOver)
            return;
        m_idleOver = true;
        m_timer.cancel();
        error_code ignored;
        if (!ec && m_socket.available(ignored) > 0) {
            if (const auto race = m_server.takeRace()) {
                endIdle(*race);
                return;
            }
        }
        start();
    }

    void endIdle(ProcessorSimulator::IdleEnd end)
    {
        using IdleEnd = ProcessorSimulator::IdleEnd;
        switch (end) {
        case IdleEnd::Stay:
            start();
            break;
        case IdleEnd::Close:
            close();
            m_server.idleEnded();
            break;
        case IdleEnd::Timeout408:
            m_raw = "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Type: text/plain\r\n"
                    "Content-Length: 15\r\n\r\nRequest Timeout";
            asio::async_write(m_socket, asio::buffer(m_raw), [self = shared_from_this()](error_code ec, std::size_t) {
                error_code ignored;
                self->m_socket.shutdown(tcp::socket::shutdown_send, ignored);
                self->m_server.idleEnded();
                if (!ec)
                    self->idle();
            });
            break;
        case IdleEnd::StrayReply: {
            // A reply that follows the stray one goes out when it is written, not held back until
            // the client acknowledges the stray one.
            error_code ignored;
            m_socket.set_option(tcp::no_delay(true), ignored);
            m_raw = "HTTP/1.1 " + std::to_string(ProcessorSimulator::kStrayStatus) + " No Content\r\n\r\n";
            asio::async_write(m_socket, asio::buffer(m_raw), [self = shared_from_this()](error_code ec, std::size_t) {
                self->m_server.idleEnded();
                if (!ec)
                    self->start();
                else
                    self->close();
            });
            break;
        }
        }
    }

    void truncate()
    {
        const std::size_t announced = std::max<std::size_t>(m_reply.body.size(), 2);
        m_raw = "HTTP/1.1 " + std::to_string(m_reply.status) + " OK\r\nContent-Length: " + std::to_string(announced)
                + "\r\nConnection: close\r\n\r\n" + m_reply.body.substr(0, announced / 2);
        asio::async_write(m_socket, asio::buffer(m_raw), [self = shared_from_this()](error_code, std::size_t) {
            self->close();
        });
    }

    // Reads and drops whatever comes until the client closes.
    void idle()
    {
        m_socket.async_read_some(asio::buffer(m_scratch), [self = shared_from_this()](error_code ec, std::size_t) {
            if (!ec)
                self->idle();
        });
    }

    void close()
    {
        error_code ignored;
        m_socket.shutdown(tcp::socket::shutdown_send, ignored);
        m_socket.close(ignored);
        m_server.closed(m_connection);
    }

    tcp::socket m_socket;
    ProcessorSimulator::Impl& m_server;
    asio::steady_timer m_timer;
    Connection m_connection;
    bool m_clientKeeps = false;
    bool m_idleOver = false; // the present idle time has ended, by its limit or by a request
    boost::beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    ProcessorSimulator::Reply m_reply;
    http::response<http::string_body> m_response;
    std::string m_raw;
    std::array<char, 4096> m_scratch{};
};

void ProcessorSimulator::Impl::accept()
{
    m_acceptor.async_accept([this](error_code ec, tcp::socket socket) {
        if (ec)
            return;
        Connection connection;
        if (stalled()) {
            m_stalledSockets.push_back(std::move(socket));
        } else if (!admit(connection)) {
            error_code ignored;
            socket.close(ignored);
        } else {
            std::make_shared<Session>(std::move(socket), *this, std::move(connection))->start();
        }
        accept();
    });
}

ProcessorSimulator::ProcessorSimulator()
    : m_impl(std::make_unique<Impl>())
{
}

ProcessorSimulator::~ProcessorSimulator() = default;

std::uint16_t ProcessorSimulator::port() const
{
    return m_impl->port();
}

std::string ProcessorSimulator::address() const
{
    return std::string(host()) + ':' + std::to_string(port());
}

void ProcessorSimulator::requireDigest()
{
    requireDigest(Digest{});
}

void ProcessorSimulator::requireDigest(Digest digest)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_digest = std::move(digest);
}

void ProcessorSimulator::allowAnonymous()
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_digest.reset();
}

void ProcessorSimulator::rotateNonce()
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_nonce = Impl::makeNonce(++m_impl->m_nonceSerial);
}

std::string ProcessorSimulator::nonce() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_nonce;
}

void ProcessorSimulator::setRoute(std::string method, std::string target, std::vector<Reply> replies)
{
    if (replies.empty())
        replies.push_back(Reply::text("not found", 404));
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_routes[{std::move(method), std::move(target)}] = Impl::Route{std::move(replies), 0};
}

void ProcessorSimulator::setRoute(std::string method, std::string target, Reply reply)
{
    setRoute(std::move(method), std::move(target), std::vector<Reply>{std::move(reply)});
}

void ProcessorSimulator::setHandler(Handler handler)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_handler = std::move(handler);
}

void ProcessorSimulator::watchRequests(Watcher watcher, bool keepLog)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_watcher = std::move(watcher);
    m_impl->m_keepLog = keepLog;
}

void ProcessorSimulator::setStalled(bool stalled)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_stalled = stalled;
}

void ProcessorSimulator::setKeepAlive(KeepAlive keepAlive)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_keepAlive = keepAlive;
}

void ProcessorSimulator::setConnectionLimit(std::size_t limit)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_connectionLimit = limit;
}

void ProcessorSimulator::setSlow(std::chrono::milliseconds perRequest)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_slowStep = perRequest;
}

ProcessorSimulator::Connections ProcessorSimulator::connections() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_counts;
}

void ProcessorSimulator::setIdleEnd(IdleEnd end, std::chrono::milliseconds idle)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_idleEnd = end;
    m_impl->m_idleLimit = idle;
}

void ProcessorSimulator::raceNextRequest(IdleEnd end)
{
    std::lock_guard lock(m_impl->m_mutex);
    m_impl->m_race = end;
}

std::size_t ProcessorSimulator::idleEnds() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_idleEnds;
}

std::size_t ProcessorSimulator::repliesSent() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_replies;
}

std::vector<ProcessorSimulator::Request> ProcessorSimulator::requests() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_log;
}

std::size_t ProcessorSimulator::requestCount() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_log.size();
}

std::size_t ProcessorSimulator::stalledBytes() const
{
    auto total = std::make_shared<std::promise<std::size_t>>();
    std::future<std::size_t> result = total->get_future();
    asio::post(m_impl->m_ioc, [this, total] {
        std::size_t bytes = 0;
        for (tcp::socket& socket : m_impl->m_stalledSockets) {
            error_code ignored;
            bytes += socket.available(ignored);
        }
        total->set_value(bytes);
    });
    if (result.wait_for(kQueryLimit) != std::future_status::ready)
        return 0;
    return result.get();
}
