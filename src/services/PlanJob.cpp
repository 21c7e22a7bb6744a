#include "services/PlanJob.h"

#include "core/Text.h"
#include "intake/ImageScanner.h"
#include "platform/FileSystem.h"
#include "services/History.h"
#include "services/OrganizeJob.h"

#include <QFile>

#include <cstring>
#include <set>

namespace services {

namespace {

std::filesystem::path absoluteFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(folder, ec).lexically_normal();
    if (absolute.filename().empty() && absolute.has_parent_path() && absolute != absolute.root_path())
        absolute = absolute.parent_path();
    return absolute;
}

AutoOrganizer::RunResult refuse(const RunJob& job, const QString& reason) {
    job.log(core::failure(reason));
    return refusedResult<AutoOrganizer::RunResult>(reason);
}

} // namespace

static core::Result<plan::Plan> planOf(const std::filesystem::path& folder,
                                       const AutoOrganizer::RunResult& result) {
    return plan::fromRun(absoluteFolder(folder), result.groups, result.classified,
                         [](const std::filesystem::path& file) { return platform::fileStamp(file); });
}

void writePlan(const RunJob& job, const std::filesystem::path& folder, AutoOrganizer::RunResult& result,
               const std::filesystem::path& path) {
    auto fail = [&](const QString& reason) {
        const QString message = kPlanNotWritten.arg(core::displayPath(path), reason);
        job.log(core::failure(message));
        result.errors << message;
    };
    const auto made = planOf(folder, result);
    if (!made) return fail(made.error().description());
    if (const auto error = platform::writeFileAtomically(path, plan::toJSON(*made)))
        return fail(QString::fromLocal8Bit(std::strerror(*error)));
    job.log(kPlanWritten.arg(core::displayPath(path)));
}

PreparedPlan preparePlan(const RunJob& job, const Engine& engine, const std::filesystem::path& folder,
                         AutoOrganizer::RunOptions options) {
    options.dryRun = true;
    PreparedPlan prepared;
    // The errors are summarized by the organize job; a plan that cannot be made is one more.
    prepared.run = organize(job, engine, folder, options);
    if (prepared.run.cancelled || prepared.run.refused || prepared.run.classified.empty()) return prepared;
    auto made = planOf(folder, prepared.run);
    if (made) {
        prepared.plan = std::move(*made);
    } else {
        job.log(core::failure(made.error().description()));
        prepared.run.errors << made.error().description();
    }
    return prepared;
}

core::Result<plan::Plan> readPlanFile(const std::filesystem::path& path) {
    QFile file(core::displayPath(path));
    // Opened by its bytes, not by its display name.
    file.setFileName(QFile::decodeName(path.c_str()));
    if (!file.open(QIODevice::ReadOnly))
        return core::Error{kPlanNotRead.arg(core::displayPath(path), file.errorString())};
    // A plan is a few hundred bytes per file; anything far larger is not one.
    if (file.size() > 256 * 1024 * 1024)
        return core::Error{kPlanNotRead.arg(core::displayPath(path), QStringLiteral("文件过大"))};
    return plan::fromJSON(file.readAll());
}

std::optional<QString> checkPlanFits(const plan::Plan& plan, const std::filesystem::path& folder) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return ImageScanner::kFolderNotFound;
    if (!std::filesystem::equivalent(plan.folder, folder, ec) || ec)
        return kPlanForOtherFolder.arg(core::displayPath(plan.folder));
    QString first;
    int mismatches = 0;
    for (const plan::Group& group : plan.groups)
        for (const plan::Entry& entry : group.entries) {
            std::vector<const plan::File*> files{&entry.file};
            for (const plan::File& companion : entry.companions)
                files.push_back(&companion);
            for (const plan::File* file : files) {
                const QString name = QString::fromUtf8(file->name);
                const auto stamp = platform::fileStamp(folder / file->name);
                QString problem;
                if (!stamp)
                    problem = kStaleMissing.arg(name);
                else if (stamp->size != file->stamp.size)
                    problem = kStaleSize.arg(name);
                else if (stamp->modifiedNs != file->stamp.modifiedNs)
                    problem = kStaleTime.arg(name);
                if (problem.isEmpty()) continue;
                if (mismatches++ == 0) first = problem;
            }
        }
    if (mismatches == 0) return std::nullopt;
    QString reason = kPlanStale.arg(first);
    if (mismatches > 1) reason += QStringLiteral("（共 %1 个文件不符）").arg(mismatches);
    return reason;
}

QStringList filesNotInPlan(const plan::Plan& plan, const std::filesystem::path& folder) {
    const auto listed = plan::listedNames(plan);
    const std::set<std::string> known(listed.begin(), listed.end());
    std::set<std::string> extra;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().native();
        if (known.count(name) || platform::isTemporaryName(name)) continue;
        std::error_code typeError;
        if (entry.is_directory(typeError)) continue;
        if (ImageScanner::isSupportedExtension(ImageScanner::lowerExtension(entry.path())))
            extra.insert(name);
    }
    QStringList names;
    for (const std::string& name : extra)
        names << core::displayName(name);
    return names;
}

AutoOrganizer::RunResult organizeFromPlan(const RunJob& job, const std::filesystem::path& folder,
                                          const plan::Plan& plan) {
    job.log(kPlanRun.arg(core::displayName(absoluteFolder(folder))));
    if (const auto reason = checkPlanFits(plan, folder)) return refuse(job, *reason);
    const QStringList extra = filesNotInPlan(plan, folder);
    if (!extra.isEmpty())
        job.log(core::warning(kAppearedSincePlan.arg(extra.size()).arg(extra.join(QStringLiteral("、")))));
    auto result = withOrganizeHistory(job, folder, true, [&](AutoOrganizer::MoveObserver* history) {
        AutoOrganizer::RunResult run;
        run.groups = plan::toGroups(plan, folder);
        AutoOrganizer::logPlan(run.groups, job.context().log);
        AutoOrganizer::carryOut(folder, run, job.context(), history);
        return run;
    });
    if (!result.refused) job.summarize(result.errors);
    return result;
}

AutoOrganizer::RunResult organizeFromPlanFile(const RunJob& job, const std::filesystem::path& folder,
                                              const std::filesystem::path& planFile) {
    const auto plan = readPlanFile(planFile);
    if (!plan) return refuse(job, plan.error().description());
    return organizeFromPlan(job, folder, *plan);
}

} // namespace services
