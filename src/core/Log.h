#pragma once

#include <QString>

#include <functional>

namespace core {

/// A run's log: one complete line per call (no stamp, no line break); may be called from any
/// thread, and the caller keeps the lines in order.
using Log = std::function<void(const QString&)>;

} // namespace core
