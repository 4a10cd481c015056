#include "ScriptedServer.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using namespace SkerryTool;

bool applies(const ScriptedServer::Plan& plan, const Header& request)
{
    return (!plan.forCommand || *plan.forCommand == request.command)
        && (!plan.forParameter || *plan.forParameter == request.parameter.value());
}

void appendBig(std::vector<std::uint8_t>& bytes, std::uint32_t value, int width)
{
    for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(std::uint8_t(value >> shift));
}

} // namespace

class ScriptedServer::Impl
{
public:
    explicit Impl(std::uint16_t port)
        : m_acceptor(m_context)
    {
        const tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"), port);
        m_acceptor.open(endpoint.protocol());
        m_acceptor.set_option(asio::socket_base::reuse_address(true));
        m_acceptor.bind(endpoint);
        m_acceptor.listen();
        m_port = m_acceptor.local_endpoint().port();
        accept();
        m_thread = std::thread([this] { m_context.run(); });
    }

    ~Impl()
    {
        asio::post(m_context, [this] {
            error_code ignored;
            m_acceptor.close(ignored);
            if (m_connection)
                m_connection->close(ignored);
        });
        m_thread.join();
    }

    std::uint16_t port() const { return m_port; }

    void script(std::vector<Plan> plans)
    {
        const std::lock_guard lock(m_mutex);
        m_script.assign(plans.begin(), plans.end());
    }

    void always(Plan plan)
    {
        const std::lock_guard lock(m_mutex);
        m_always = std::move(plan);
    }

    std::vector<Frame> frames() const
    {
        const std::lock_guard lock(m_mutex);
        return m_frames;
    }

    std::size_t connections() const
    {
        const std::lock_guard lock(m_mutex);
        return m_connections;
    }

private:
    void accept()
    {
        m_acceptor.async_accept([this](const error_code& error, tcp::socket socket) {
            if (error)
                return;
            {
                const std::lock_guard lock(m_mutex);
                ++m_connections;
            }
            m_connection = std::make_unique<tcp::socket>(std::move(socket));
            readHeader();
        });
    }

    // The connection ends: wait for the next one.
    void drop()
    {
        error_code ignored;
        m_connection->close(ignored);
        accept();
    }

    void readHeader()
    {
        asio::async_read(*m_connection, asio::buffer(&m_request.header, sizeof(Header)),
                         [this](const error_code& error, std::size_t) {
                             if (error)
                                 return drop();
                             const std::size_t length = m_request.header.length;
                             m_request.payload.assign(length > sizeof(Header) ? length - sizeof(Header) : 0, 0);
                             asio::async_read(*m_connection, asio::buffer(m_request.payload),
                                              [this](const error_code& error, std::size_t) {
                                                  if (error)
                                                      return drop();
                                                  answer();
                                              });
                         });
    }

    Plan planFor(const Header& request)
    {
        const std::lock_guard lock(m_mutex);
        m_frames.push_back(m_request);
        for (auto it = m_script.begin(); it != m_script.end(); ++it) {
            if (applies(*it, request)) {
                Plan plan = *it;
                m_script.erase(it);
                return plan;
            }
        }
        if (m_always && applies(*m_always, request))
            return *m_always;
        return Plan{};
    }

    // The reply to the current request by the plan, appended to what is about to be sent.
    void appendReply(const Plan& plan)
    {
        std::vector<std::uint8_t> payload = plan.payload ? *plan.payload : soundPayload(m_request);
        Header reply;
        reply.magic = plan.magic.value_or(kMagic);
        reply.length = plan.length.value_or(std::uint16_t(sizeof(Header) + payload.size()));
        reply.version = plan.version.value_or(kProtocolVersion);
        reply.sequence = plan.sequence.value_or(m_request.header.sequence);
        reply.command = plan.command.value_or(m_request.header.command);
        reply.responseCode = plan.responseCode;
        reply.parameter = ParameterID(plan.parameter.value_or(std::uint16_t(m_request.header.parameter.value())));

        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&reply);
        m_reply.insert(m_reply.end(), bytes, bytes + sizeof(Header));
        if (!plan.closeAfterHeader)
            m_reply.insert(m_reply.end(), payload.begin(), payload.end());
    }

    void answer()
    {
        const Plan plan = planFor(m_request.header);
        if (plan.silent)
            return readHeader();

        m_reply.clear();
        appendReply(plan);
        if (plan.thenSound)
            appendReply(Plan{});
        const bool close = plan.closeAfterHeader;
        asio::async_write(*m_connection, asio::buffer(m_reply), [this, close](const error_code& error, std::size_t) {
            if (error || close)
                return drop();
            readHeader();
        });
    }

    asio::io_context m_context;
    tcp::acceptor m_acceptor;
    std::unique_ptr<tcp::socket> m_connection;
    std::uint16_t m_port = 0;
    Frame m_request;
    std::vector<std::uint8_t> m_reply;
    std::thread m_thread;

    mutable std::mutex m_mutex; // guards the script and the records below
    std::deque<Plan> m_script;
    std::optional<Plan> m_always;
    std::vector<Frame> m_frames;
    std::size_t m_connections = 0;
};

std::vector<std::uint8_t> ScriptedServer::soundPayload(const Frame& request)
{
    std::vector<std::uint8_t> bytes;
    const Command command = request.header.command;
    switch (request.header.parameter.value()) {
    case ParameterID::Version:
        if (command == Command::Get)
            bytes.assign(std::begin(kVersion), std::end(kVersion));
        break;
    case ParameterID::Uptime:
        appendBig(bytes, kUptime, 4);
        break;
    case ParameterID::DeviceReport:
        bytes.assign(kDeviceReport, kDeviceReport + std::strlen(kDeviceReport));
        break;
    case ParameterID::Bypass:
        if (command == Command::Get)
            appendBig(bytes, kBypass, 4);
        break;
    case ParameterID::Brightness:
        if (command == Command::Get)
            appendBig(bytes, kBrightness, 2);
        break;
    case ParameterID::SystemTest:
        bytes.push_back(kSystemTestStatus);
        bytes.insert(bytes.end(), kSystemTestDescription, kSystemTestDescription + std::strlen(kSystemTestDescription));
        break;
    case ParameterID::PushData:
        if (command == Command::Get) {
            bytes.push_back(0); // finished
        } else if (request.payload.size() >= sizeof(PushDataSetRequest)) {
            PushDataSetRequest push;
            std::memcpy(&push, request.payload.data(), sizeof push);
            // Acknowledgements: 1 for the announcement (and a byte of its own) and each chunk,
            // 2 for the checksum, 3 for the finish.
            if (push.step == 1)
                bytes = {1, 0};
            else if (push.step == 2)
                bytes = {1};
            else
                bytes = {std::uint8_t(push.step - 1)};
        }
        break;
    default:
        break;
    }
    return bytes;
}

ScriptedServer::ScriptedServer(std::uint16_t port)
    : m_impl(std::make_unique<Impl>(port))
{
}

ScriptedServer::~ScriptedServer() = default;

std::uint16_t ScriptedServer::port() const { return m_impl->port(); }
void ScriptedServer::script(std::vector<Plan> plans) { m_impl->script(std::move(plans)); }
void ScriptedServer::always(Plan plan) { m_impl->always(std::move(plan)); }
std::vector<ScriptedServer::Frame> ScriptedServer::frames() const { return m_impl->frames(); }
std::size_t ScriptedServer::connections() const { return m_impl->connections(); }
