// Reading the label cards: one at a time with the next one prepared meanwhile, or several in
// flight, each read logged in its turn.

#include "organize/AutoOrganizer.h"

#include "core/InOrder.h"

namespace AutoOrganizer {

using ImageScanner::ImageInfo;
using MediaPipeline::ClassifiedItem;
using MediaPipeline::WorkUnit;

namespace {

using Extracted = core::Result<RelicLabelExtracted>;

/// A card prepared for its read, with what its classification found on it.
core::Result<ai::PreparedPhoto> prepareCard(const ai::VisionBackend& backend, const ClassifiedItem& card) {
    auto prepared = backend.prepare(card.unit.primary.path);
    if (prepared) ai::adoptFound(*prepared, card.found);
    return prepared;
}

Extracted readPrepared(ai::VisionBackend& backend, const ImageInfo& primary,
                       const core::Result<ai::PreparedPhoto>& prepared) {
    if (!prepared) return core::Error{ai::kImagePrepareFailed + prepared.error().description()};
    return backend.readLabel(primary.path, *prepared);
}

/// Writes one card's lines, in the order of one read after another, and hands the read over;
/// `ask` reads it (or hands over a read sent ahead).
void recordLabel(int i, int m, const ImageInfo& primary, const std::function<Extracted()>& ask,
                 const core::RunContext& context, const std::function<void(const LabelRead&)>& onRead) {
    const QString& file = primary.fileName;
    context.report(core::stage::readLabels, i + 1, m, file);
    context.log(
        QStringLiteral("抽取标签字段：%1 (%2/%3)").arg(file, QString::number(i + 1), QString::number(m)));
    const Extracted extracted = ask();
    LabelRead read;
    if (!extracted) {
        read.error = QStringLiteral("字段抽取失败 %1：%2").arg(file, extracted.error().description());
        context.log(core::failure(read.error));
    } else {
        read.record = extracted->withPersistenceDefaultsForAIOutput();
        context.log(QStringLiteral("  名称=%1 来源=%2 年代=%3")
                        .arg(read.record->name, read.record->source, read.record->period));
    }
    onRead(read);
}

/// A card read ahead of its turn.
struct ReadAhead {
    std::optional<Extracted> extracted;
    QStringList warnings;
};

bool readLabelsAhead(const std::vector<ClassifiedItem>& labels, ai::VisionBackend& backend,
                     const core::RunContext& context, const std::function<void(const LabelRead&)>& onRead,
                     ai::RequestSlots& requests, EarlyReads* early) {
    const int m = static_cast<int>(labels.size());
    const std::function<ReadAhead(int)> work = [&](int i) {
        ReadAhead ahead;
        if (context.cancelled()) return ahead;
        const ImageInfo& primary = labels[size_t(i)].unit.primary;
        if (auto read = early ? early->take(primary.path) : std::nullopt) {
            ahead.extracted = std::move(read->extracted);
            ahead.warnings = std::move(read->warnings);
            return ahead;
        }
        const auto prepared = prepareCard(backend, labels[size_t(i)]);
        if (!prepared) {
            ahead.extracted = readPrepared(backend, primary, prepared);
            return ahead;
        }
        if (auto read =
                requests.send<RelicLabelExtracted>([&] { return backend.readLabel(primary.path, *prepared); },
                                                   primary.fileName, context.cancel, ahead.warnings, i))
            ahead.extracted = std::move(*read);
        return ahead;
    };
    int taken = 0;
    const std::function<bool(int, ReadAhead&)> take = [&](int i, ReadAhead& ahead) {
        if (context.cancelled() || !ahead.extracted) return false;
        recordLabel(
            i, m, labels[size_t(i)].unit.primary,
            [&] {
                for (const QString& warning : ahead.warnings)
                    context.log(core::warning(warning));
                return std::move(*ahead.extracted);
            },
            context, onRead);
        ++taken;
        return true;
    };
    core::inOrder<ReadAhead>(m, requests.limit() + MediaPipeline::preparationThreads(), work, take,
                             context.cancel);
    return taken == m;
}

} // namespace

MediaPipeline::AfterReply EarlyReads::reader(ai::VisionBackend& backend, ai::RequestSlots& requests,
                                             const core::CancelToken& cancel) {
    return [this, &backend, &requests, cancel](int index, const WorkUnit& unit,
                                               const ai::PreparedPhoto& prepared,
                                               const ClassificationResult& result) {
        if (result.category != MediaCategory::label) return;
        QStringList warnings;
        auto read =
            requests.send<RelicLabelExtracted>([&] { return backend.readLabel(unit.primary.path, prepared); },
                                               unit.primary.fileName, cancel, warnings, index);
        if (!read) return;
        const std::lock_guard hold(m_mutex);
        m_reads.insert_or_assign(unit.primary.path, Read{std::move(*read), std::move(warnings)});
    };
}

std::optional<EarlyReads::Read> EarlyReads::take(const std::filesystem::path& photo) {
    const std::lock_guard hold(m_mutex);
    const auto it = m_reads.find(photo);
    if (it == m_reads.end()) return std::nullopt;
    return std::move(m_reads.extract(it).mapped());
}

bool readLabels(const std::vector<ClassifiedItem>& labels, ai::VisionBackend& backend,
                const core::RunContext& context, const std::function<void(const LabelRead&)>& onRead,
                ai::RequestSlots* requests, EarlyReads* early) {
    if (requests && requests->concurrent() && backend.takesConcurrentRequests())
        return readLabelsAhead(labels, backend, context, onRead, *requests, early);
    const int m = static_cast<int>(labels.size());
    // The next cards are prepared (and read, on this machine) during a read, one per core.
    using Prepared = std::optional<core::Result<ai::PreparedPhoto>>;
    const std::function<Prepared(int)> prepare = [&](int i) -> Prepared {
        if (context.cancelled()) return std::nullopt;
        auto prepared = prepareCard(backend, labels[size_t(i)]);
        if (prepared) backend.workAhead(*prepared, ai::VisionBackend::Ask::readLabel);
        return prepared;
    };
    int taken = 0;
    const std::function<bool(int, Prepared&)> take = [&](int i, Prepared& prepared) {
        if (context.cancelled() || !prepared) return false;
        const ImageInfo& primary = labels[size_t(i)].unit.primary;
        recordLabel(
            i, m, primary, [&] { return readPrepared(backend, primary, *prepared); }, context, onRead);
        ++taken;
        return true;
    };
    core::inOrder<Prepared>(m, MediaPipeline::preparationThreads(), prepare, take, context.cancel);
    return taken == m;
}

} // namespace AutoOrganizer
