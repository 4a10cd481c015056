#include "formats/CorvaneCalWCBNull.h"

namespace CorvaneCal {

WCBNull::WCBNull() : std::ostream(nullptr)
{
    rdbuf(&sink_);
}

WCBNull::~WCBNull() = default;

} // namespace CorvaneCal
