#include "services/History.h"

namespace services {

std::optional<QString> refuseWithoutHistory(const core::RunContext& context) {
    auto reason = MoveJournal::checkWritable();
    if (reason) context.log(core::failure(*reason));
    return reason;
}

std::optional<QString> refuseWithoutHistory(const RunJob& job) {
    return refuseWithoutHistory(job.context());
}

std::filesystem::path historyRootFor(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec).lexically_normal();
    if (absolute.filename().empty()) absolute = absolute.parent_path();
    const std::filesystem::path parent = absolute.parent_path();
    return MoveJournal::rootForChangeAt(parent, parent);
}

} // namespace services
