// The pass itself: which photos of the next folder look more like this one's last photos.

#include "refine/FeaturePrintRefiner.h"

#include "core/Text.h"
#include "refine/ImageFeaturePrint.h"

#include <unordered_map>

namespace FeaturePrintRefiner {

using ImageScanner::ImageInfo;
using MediaPipeline::WorkUnit;
namespace fs = std::filesystem;

/// A print as the pass compares it: normalised to unit length.
using Print = refine::FeaturePrintObservation;

namespace {

/// The prints of one pass, by path; only successes are kept.
class PrintCache {
  public:
    explicit PrintCache(const FeaturePrintFn& compute) : m_compute(compute) {}

    const Print* observation(const fs::path& file, const core::Log& log) {
        const auto hit = m_prints.find(file.native());
        if (hit != m_prints.end()) return &hit->second;
        std::optional<Print> print;
        if (m_compute)
            if (auto computed = m_compute(file)) print = Print::fromFeature(std::move(computed.value()));
        if (!print) {
            log(core::warning(QStringLiteral("FeaturePrint 失败：") + core::displayName(file), 2));
            return nullptr;
        }
        return &m_prints.emplace(file.native(), std::move(*print)).first->second;
    }

  private:
    const FeaturePrintFn& m_compute;
    std::unordered_map<std::string, Print> m_prints;
};

QString threeDecimals(float value) {
    return QString::asprintf("%.3f", double(value));
}

} // namespace

RunResult refine(const fs::path& root, const core::RunContext& context, const Options& options) {
    const core::Log& log = context.log;
    RunResult result;
    const std::vector<fs::path> folders = relicFolders(root);
    if (folders.size() < 2) {
        log(kTooFewFolders);
        return result;
    }
    PrintCache cache(options.featurePrint);
    auto cancelled = [&] { return context.cancelled(); };

    for (size_t i = 0; i + 1 < folders.size() && !result.cancelled; ++i) {
        if (cancelled()) {
            result.cancelled = true;
            break;
        }
        const fs::path& folderA = folders[i];
        const fs::path& folderB = folders[i + 1];
        context.report(kStage, int(i + 1), int(folders.size() - 1), core::displayName(folderB));
        log(QStringLiteral("对比：%1 ← %2").arg(core::displayName(folderA), core::displayName(folderB)));

        const auto packA = loadPack(folderA, log);
        if (!packA) continue;
        const auto packB = loadPack(folderB, log);
        if (!packB) continue;

        if (packA->empty()) {
            log(QStringLiteral("  跳过：本夹没有标签前文物"));
            continue;
        }
        const std::vector<WorkUnit> samples(packA->size() > 3 ? packA->end() - 3 : packA->begin(),
                                            packA->end());
        if (packB->empty()) {
            log(QStringLiteral("  跳过：下一夹没有标签前文物"));
            continue;
        }
        const WorkUnit& anchor = packB->back();

        std::vector<const Print*> samplePrints;
        QStringList sampleNames;
        for (const WorkUnit& sample : samples) {
            sampleNames << sample.primary.fileName;
            if (const Print* print = cache.observation(sample.primary.path, log))
                samplePrints.push_back(print);
        }
        if (samplePrints.empty()) {
            log(QStringLiteral("  跳过：本夹样本无法计算 FeaturePrint"));
            continue;
        }
        log(QStringLiteral("  本夹样本 ") + sampleNames.join(QStringLiteral(", ")));

        // Cache entries keep their address when the cache grows.
        const Print* anchorPrint = cache.observation(anchor.primary.path, log);
        if (!anchorPrint) {
            log(QStringLiteral("  跳过：下一夹锚点无法计算 FeaturePrint（%1）").arg(anchor.primary.fileName));
            continue;
        }
        log(QStringLiteral("  下一夹锚点 %1（不搬）").arg(anchor.primary.fileName));

        std::vector<WorkUnit> candidates;
        for (const WorkUnit& unit : *packB)
            if (unit.primary.path != anchor.primary.path) candidates.push_back(unit);
        if (candidates.empty()) {
            log(QStringLiteral("  下一夹没有可比较的其余文物"));
            continue;
        }

        for (const WorkUnit& unit : candidates) {
            if (cancelled()) {
                result.cancelled = true;
                break;
            }
            const QString& file = unit.primary.fileName;
            const Print* print = cache.observation(unit.primary.path, log);
            if (!print) {
                log(QStringLiteral("  [留下] %1：无法计算 FeaturePrint").arg(file));
                continue;
            }
            std::optional<float> dA;
            for (const Print* sample : samplePrints) {
                const auto d = print->computeDistance(*sample);
                if (d && (!dA || *d < *dA)) dA = d;
            }
            const auto dB = dA ? print->computeDistance(*anchorPrint) : std::nullopt;
            if (!dA || !dB) {
                log(QStringLiteral("  [留下] %1：距离计算失败").arg(file));
                continue;
            }
            const QString shownA = threeDecimals(*dA), shownB = threeDecimals(*dB);
            if (*dA < *dB) {
                const auto records = moveUnit(unit, folderA, log, result.errors, options.journal);
                result.moves.insert(result.moves.end(), records.begin(), records.end());
                result.movedCount += int(records.size());
                log(QStringLiteral("  [搬回] %1 dA=%2 dB=%3（更像本夹，%4 个文件）")
                        .arg(file, shownA, shownB, QString::number(records.size())));
            } else {
                log(QStringLiteral("  [留下] %1 dA=%2 dB=%3（更像下一夹或一样近）")
                        .arg(file, shownA, shownB));
            }
        }
    }
    if (result.cancelled)
        log(core::kCancelledLine.arg(result.movedCount));
    else
        log(QStringLiteral("FeaturePrint 后处理结束。移动 %1 个文件，错误 %2 条。")
                .arg(result.movedCount)
                .arg(result.errors.size()));
    return result;
}

} // namespace FeaturePrintRefiner
