#pragma once

// What the files of FinderJobController share (queue, batch, window); for nothing else.

#include "services/FinderWorkItem.h"

#include <QString>

#include <filesystem>
#include <functional>

namespace finderjobs {

/// The job window's title for items of this kind.
QString titleFor(FinderWorkItem::Kind kind);
/// The key under which an item counts as seen: "{kind}:{standardized path}".
QString keyFor(FinderWorkItem::Kind kind, const std::filesystem::path& url);
/// Runs `work` on the interface thread after everything posted before it. Posted through the
/// application object, which outlives any controller; `work` checks its controller itself.
void postToInterface(std::function<void()> work);

} // namespace finderjobs
