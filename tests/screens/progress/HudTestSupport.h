#pragma once

#include <ostream>

#include "platform/core/Geometry.h"
#include "platform/ui/UiTestSupport.h"
#include "support/ManualClock.h"

namespace quorbit::platform {
// Readable geometry in test failures.
inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "(" << r.x() << ", " << r.y() << ", " << r.width() << " x " << r.height() << ")";
}
}  // namespace quorbit::platform
