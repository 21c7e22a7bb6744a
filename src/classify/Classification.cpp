#include "classify/Classification.h"

#include "ai/AIClient.h"
#include "ai/RAWJPEGExporter.h"

namespace MediaPipeline {

QString categoryName(MediaCategory category) {
    switch (category) {
    case MediaCategory::panel:
        return QStringLiteral("展板");
    case MediaCategory::label:
        return QStringLiteral("标签");
    case MediaCategory::artifact:
        return QStringLiteral("文物");
    case MediaCategory::unknown:
        return QStringLiteral("未分类");
    }
    return QStringLiteral("未分类");
}

namespace {

/// The reply budget of a classification request.
constexpr int kMaxTokens = 128;

} // namespace

ClassifyResult classify(const std::vector<WorkUnit>& units, bool useVisionPrefilter,
                        const ai::AISettings& config, const Log& log, const Probe& probe) {
    ClassifyResult result;
    const int n = static_cast<int>(units.size());
    for (int index = 0; index < n; ++index) {
        const WorkUnit& unit = units[size_t(index)];
        const QString position = QStringLiteral("[%1/%2] ").arg(index + 1).arg(n);
        const QString& file = unit.primary.fileName;
        const QString note = companionNote(unit);
        auto finish = [&](MediaCategory category) { result.items.push_back(ClassifiedItem{unit, category}); };
        auto fail = [&](const QString& message) {
            log(QStringLiteral("[失败] ") + message);
            result.errors << message;
            finish(MediaCategory::unknown);
        };

        if (unit.primary.fileType == ImageScanner::ImageInfo::ImageType::video) {
            log(position + file + QStringLiteral(" → 视频（不调 AI，按文物）") + note);
            finish(MediaCategory::artifact);
            continue;
        }

        if (useVisionPrefilter) {
            log(position + QStringLiteral("Vision 粗筛：") + file);
            const auto probed = probe(unit.primary.url);
            if (probed && !probed->hasText) {
                log(position + file + QStringLiteral(" → 文物（Vision：%1，跳过 AI）").arg(probed->detail) +
                    note);
                ++result.visionArtifactCount;
                finish(MediaCategory::artifact);
                continue;
            }
            if (probed) {
                log(position + file + QStringLiteral(" 有文字（%1）→ 送 AI 分类").arg(probed->detail));
            } else {
                log(position +
                    QStringLiteral("Vision 失败（%1）→ 回退 AI：").arg(probed.error().description()) + file);
            }
        }

        log(position + QStringLiteral("准备 AI 识别：") + file);
        const auto prepared = RAWJPEGExporter::prepareForUpload(unit.primary.url);
        if (!prepared) {
            fail(QStringLiteral("解码失败 %1：%2 → 未分类").arg(file, prepared.error().description()));
            continue;
        }
        const auto reply = AIClient::chatWithImage(unit.primary.url, ImageTriClassifier::kPrompt, config,
                                                   kMaxTokens, *prepared);
        if (!reply) {
            fail(QStringLiteral("分类失败 %1：%2 → 未分类").arg(file, reply.error().description()));
            continue;
        }
        const ClassificationResult parsed = ImageTriClassifier::parse(*reply);
        const QString confidence =
            parsed.confidence ? QString::asprintf("%.2f", *parsed.confidence) : QStringLiteral("-");
        log(position + file +
            QStringLiteral(" → %1 (confidence %2)").arg(categoryName(parsed.category), confidence) + note);
        finish(parsed.category);
    }
    return result;
}

} // namespace MediaPipeline
