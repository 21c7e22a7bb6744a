#include "cli/Cli.h"

#include "core/Text.h"
#include "services/OrganizeJob.h"
#include "services/PlanJob.h"

namespace cli {

int organizeCommand(Args& args) {
    if (args.flag(QStringLiteral("--undo"))) return undoCommand(args, MoveJournal::Kind::organize);
    const auto planIn = args.take(QStringLiteral("--plan"));
    if (planIn) {
        // A saved plan: no label is read and no model asked, so no engine is chosen.
        if (args.unknownOption() || args.rest().size() != 1 || planIn->isEmpty())
            return usageError("organize");
        return runJob(services::organizeFrame(), [&](const services::RunJob& job) {
            return services::organizeFromPlanFile(job, args.path(0), core::toPath(*planIn));
        });
    }
    const auto planOut = args.take(QStringLiteral("--plan-out"));
    const auto requests = requestsForRun(args);
    if (!requests) return usageError("organize");
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    AutoOrganizer::RunOptions options;
    options.requestsInFlight = *requests;
    options.useVisionPrefilter = !args.flag(QStringLiteral("--no-prefilter"));
    options.dryRun = args.flag(QStringLiteral("--dry-run"));
    if (args.unknownOption() || args.rest().size() != 1) return usageError("organize");
    // The plan is written by a dry run only: a run that moves files has nothing left to review.
    if (planOut && (!options.dryRun || planOut->isEmpty())) return usageError("organize");

    return runJob(services::organizeFrame(), [&](const services::RunJob& job) {
        return services::organize(job, *engine, args.path(0), options,
                                  planOut ? core::toPath(*planOut) : std::filesystem::path());
    });
}

} // namespace cli
