#include "cli/Cli.h"

#include "ai/AIClient.h"
#include "core/Text.h"
#include "organize/AutoOrganizer.h"
#include "services/LogStore.h"
#include "services/ProcessingLock.h"

#include <QFileInfo>

namespace cli {

int organizeCommand(Args& args) {
    int exitCode = 0;
    const auto endpoint = endpointForRun(args, exitCode);
    if (!endpoint) return exitCode;
    AutoOrganizer::RunOptions options;
    options.useVisionPrefilter = !args.flag(QStringLiteral("--no-prefilter"));
    options.dryRun = args.flag(QStringLiteral("--dry-run"));
    if (args.unknownOption() || args.rest().size() != 1) {
        err(QStringLiteral(
            "用法：vitrino-cli organize DIR [--no-prefilter] [--dry-run] [--engine remote|local] "
            "[--base-url URL] [--model ID]"));
        return 2;
    }
    ProcessingLock& lock = ProcessingLock::shared();
    if (!lock.tryAcquire(ProcessingLock::Owner::main)) {
        err(ProcessingLock::kBusyForMain);
        return 2;
    }

    const QString logFile = LogStore::beginSession();
    const core::Log log = [&logFile](const QString& line) {
        const QString stamped = LogStore::stamped(line);
        out(stamped);
        LogStore::append(stamped, logFile);
    };
    log(QStringLiteral("—— 开始整理 ——"));
    log(QStringLiteral("日志文件：") + QFileInfo(logFile).fileName());
    if (!endpoint->notice.isEmpty()) log(endpoint->notice);
    if (options.dryRun) log(QStringLiteral("预演：只分类、读标签并列出计划，不创建文件夹、不移动文件"));

    const auto result = AutoOrganizer::run(args.path(0), endpoint->settings, log, options);
    if (!result.errors.isEmpty())
        log(QStringLiteral("错误汇总 %1 条（详见上方日志）").arg(result.errors.size()));
    log(QStringLiteral("—— 整理结束 ——"));
    LogStore::pruneOldLogs();
    lock.release(ProcessingLock::Owner::main);
    return result.errors.isEmpty() ? 0 : 1;
}

} // namespace cli
