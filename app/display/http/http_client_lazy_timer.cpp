#include "display/http/http_client_lazy_timer.h"

#include <boost/asio/error.hpp>

#include <utility>

namespace http_client {

lazy_timer::lazy_timer(std::function<void()> expired)
    : m_expired(std::move(expired))
    , m_self(std::make_shared<lazy_timer*>(this))
{
}

lazy_timer::~lazy_timer()
{
    m_self.reset();
}

void lazy_timer::set(boost::asio::io_context& ioc, clock::time_point at)
{
    m_at = at;
    if (!m_timer)
        m_timer.emplace(ioc);
    if (!m_armed || m_timer->expiry() > m_at)
        arm();
}

void lazy_timer::clear()
{
    m_at = clock::time_point::max();
}

void lazy_timer::release()
{
    clear();
    m_timer.reset();
    m_armed = false;
}

void lazy_timer::arm()
{
    m_armed = true;
    m_timer->expires_at(m_at); // a wait set earlier ends with operation_aborted
    m_timer->async_wait([self = std::weak_ptr<lazy_timer*>(m_self)](const boost::system::error_code& error) {
        const auto alive = self.lock();
        if (!alive || error == boost::asio::error::operation_aborted)
            return;
        (*alive)->fired();
    });
}

void lazy_timer::fired()
{
    m_armed = false;
    if (m_at == clock::time_point::max())
        return; // met and cleared
    if (clock::now() < m_at) {
        arm(); // moved later meanwhile
        return;
    }
    clear();
    m_expired();
}

} // namespace http_client
