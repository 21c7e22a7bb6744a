#include "services/NameJob.h"

#include "services/History.h"

namespace services {

namespace {

/// The ratings of a file, written down before they are set: the attributes come back on undo.
FolderProcessor::RateFile recordedRating(MoveJournal::LazyWriter& journal, FolderProcessor::RateFile rate) {
    return [&journal, rate = std::move(rate)](int stars,
                                              const std::filesystem::path& file) -> std::optional<QString> {
        for (const std::string& name :
             {RatingWriter::kStarRatingAttribute, RatingWriter::kBalooRatingAttribute})
            if (!journal.willSetAttribute(file, name)) return journal.error().value_or(QString());
        return rate(stars, file);
    };
}

} // namespace

NameResult nameFolders(const RunJob& job, const Engine& engine,
                       const std::vector<std::filesystem::path>& folders,
                       FolderProcessor::RunOptions options) {
    if (!engine.notice.isEmpty()) job.log(engine.notice);
    if (const auto reason = refuseWithoutHistory(job)) return refusedResult<NameResult>(*reason);
    options.model = engine.model;
    NameResult result;
    const core::RunContext context = job.context();
    for (const auto& folder : folders) {
        if (context.cancelled()) {
            result.cancelled = true;
            break;
        }
        // Each folder is one operation in the history of the shoot it belongs to.
        MoveJournal::LazyWriter journal(MoveJournal::Kind::name, historyRootFor(folder), folder);
        journal.stopOnFailure(job.cancelToken());
        FolderProcessor::RunOptions journaled = options;
        journaled.observer = &journal;
        journaled.rate = recordedRating(journal, options.rate);
        auto named = FolderProcessor::run(folder, *engine.backend, context, journaled);
        settleHistory(named, journal.error());
        result.errors << named.errors;
        result.cancelled = named.cancelled;
        result.folders.push_back(std::move(named));
        if (result.cancelled || journal.error()) break;
    }
    job.summarize(result.errors);
    return result;
}

} // namespace services
