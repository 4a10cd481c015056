#include "display/http/http_client_cancel_registration.h"

namespace http_client {

cancel_registration::cancel_registration(context& ctx, std::function<void()> cancelFunction)
    : m_cancel(std::move(cancelFunction))
    , m_set(ctx.cancellables)
{
    if (m_set)
        m_set->insert(this);
}

cancel_registration::~cancel_registration()
{
    if (m_set)
        m_set->erase(this);
}

void cancel_registration::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    if (m_cancel)
        m_cancel();
}

} // namespace http_client
