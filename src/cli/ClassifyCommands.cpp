#include "cli/Cli.h"

#include "ai/AIClient.h"
#include "classify/Classification.h"
#include "classify/VisionTextProbe.h"
#include "core/Text.h"
#include "intake/ImageScanner.h"

#include <QElapsedTimer>

#include <map>

namespace cli {

int probeCommand(Args& args) {
    if (args.unknownOption() || args.rest().isEmpty()) return usageError("probe");
    int failures = 0;
    for (int i = 0; i < args.rest().size(); ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto path = args.path(i);
        const auto result = VisionTextProbe::containsAnyText(path);
        const QString shown = core::escapeControls(core::displayPath(path));
        if (!result) {
            err(shown + QStringLiteral("\t") + result.error().description());
            ++failures;
            continue;
        }
        out(QStringLiteral("%1\t%2\t%3\t%4")
                .arg(shown, result->hasText ? QStringLiteral("true") : QStringLiteral("false"),
                     result->detail)
                .arg(timer.elapsed()));
    }
    return failures ? 1 : 0;
}

int classifyCommand(Args& args) {
    const auto requests = requestsForRun(args);
    if (!requests) return usageError("classify");
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    const bool prefilter = !args.flag(QStringLiteral("--no-prefilter"));
    if (args.unknownOption() || args.rest().size() != 1) return usageError("classify");
    if (engine->isLocal) out(engine->notice);
    const auto units = scanAndReport(args.path(0));
    if (!units) return 2;
    TerminalProgress progress;
    core::RunContext context{[&progress](const QString& line) { progress.print(line); },
                             [&progress](const core::Progress& p) { progress.update(p); },
                             {}};
    const CancelOnSignals cancelOnSignals(context.cancel);
    ai::RequestSlots inFlight(*requests);
    const auto result = MediaPipeline::classify(*units, prefilter, *engine->backend, context, {}, &inFlight);
    progress.clear();
    if (result.cancelled) return 130;

    std::map<MediaCategory, int> counts;
    for (const auto& item : result.items)
        ++counts[item.category];
    out(QStringLiteral("分类完成：展板 %1，标签 %2，文物 %3，未分类 %4；Vision 直接归文物 %5 张；错误 %6 条")
            .arg(counts[MediaCategory::panel])
            .arg(counts[MediaCategory::label])
            .arg(counts[MediaCategory::artifact])
            .arg(counts[MediaCategory::unknown])
            .arg(result.visionArtifactCount)
            .arg(result.errors.size()));
    return result.errors.isEmpty() ? 0 : 1;
}

} // namespace cli
