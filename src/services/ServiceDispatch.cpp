// Handing application URLs to the job queue: kept apart from the URL parsing itself, which
// needs nothing of the queue (and is fuzzed on its own).

#include "services/FinderJobController.h"
#include "services/ServiceEntry.h"

#include <QPointer>

namespace ServiceEntry {

int dispatch(const QStringList& arguments, FinderJobController& controller) {
    int count = 0;
    for (const QString& argument : arguments) {
        auto request = parseOpenURL(argument);
        if (!request) continue;
        ++count;
        // The caller (a socket read, start-up) returns at once; the job starts from the event loop.
        QPointer<FinderJobController> target(&controller);
        QMetaObject::invokeMethod(
            &controller,
            [target, request = std::move(*request)] {
                if (target) target->handleIncoming(request.kind, request.paths);
            },
            Qt::QueuedConnection);
    }
    return count;
}

} // namespace ServiceEntry
