#include "cli/Cli.h"

#include "services/OrganizeJob.h"

namespace cli {

int organizeCommand(Args& args) {
    if (args.flag(QStringLiteral("--undo"))) return undoCommand(args, MoveJournal::Kind::organize);
    const auto requests = requestsForRun(args);
    if (!requests) return usageError("organize");
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    AutoOrganizer::RunOptions options;
    options.requestsInFlight = *requests;
    options.useVisionPrefilter = !args.flag(QStringLiteral("--no-prefilter"));
    options.dryRun = args.flag(QStringLiteral("--dry-run"));
    if (args.unknownOption() || args.rest().size() != 1) return usageError("organize");

    return runJob(services::organizeFrame(), [&](const services::RunJob& job) {
        return services::organize(job, *engine, args.path(0), options);
    });
}

} // namespace cli
