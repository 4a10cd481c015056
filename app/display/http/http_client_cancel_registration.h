#pragma once

#include "display/http/http_client_context.h"

#include <functional>

namespace http_client {

// Makes one operation in flight reachable by cancel_all for exactly as long as it lives (in the
// frame of the coroutine that runs the operation).
class cancel_registration
{
public:
    cancel_registration(context& ctx, std::function<void()> cancelFunction);
    ~cancel_registration();

    cancel_registration(const cancel_registration&) = delete;
    cancel_registration& operator=(const cancel_registration&) = delete;

    // Runs the cancel function once. The flag stays set, so a completion that was already on
    // its way when the cancel came is still treated as cancelled.
    void cancel();
    bool cancelled() const noexcept { return m_cancelled; }

private:
    std::function<void()> m_cancel;
    cancel_set* m_set;
    bool m_cancelled = false;
};

} // namespace http_client
