#include "cli/Cli.h"

#include "ai/AIClient.h"
#include "ai/AIConfig.h"
#include "ai/RAWJPEGExporter.h"
#include "classify/ImageTriClassifier.h"
#include "core/Text.h"
#include "labels/RelicLabelExtracted.h"
#include "services/ImageOCRProcessor.h"

#include <QFile>

namespace cli {

ai::AISettings settingsForRun(Args& args) {
    ai::AISettings settings = ai::AIConfig::shared().snapshot();
    if (const auto url = args.take(QStringLiteral("--base-url"))) settings.baseURL = *url;
    if (const auto model = args.take(QStringLiteral("--model"))) settings.modelID = *model;
    if (qEnvironmentVariableIsSet("VITRINO_API_KEY"))
        settings.apiKey = qEnvironmentVariable("VITRINO_API_KEY");
    return settings;
}

std::optional<Endpoint> endpointForRun(Args& args, int& exitCode) {
    const auto choice = args.take(QStringLiteral("--engine"));
    const bool urlGiven = args.rest().contains(QStringLiteral("--base-url"));
    Endpoint endpoint;
    endpoint.settings = settingsForRun(args);
    if (choice && *choice != QLatin1String("local") && *choice != QLatin1String("remote")) {
        err(QStringLiteral("--engine 只能是 remote 或 local"));
        exitCode = 2;
        return std::nullopt;
    }
    const bool local =
        choice ? *choice == QLatin1String("local") : (!endpoint.settings.isConfigured() && !urlGiven);
    if (!local) {
        if (!endpoint.settings.isConfigured()) {
            err(AIClient::kNotConfigured);
            exitCode = 2;
            return std::nullopt;
        }
        return endpoint;
    }
    endpoint.local = std::make_unique<engine::LocalAIServer>();
    if (!endpoint.local->start()) {
        err(QStringLiteral("无法启动本机离线引擎"));
        exitCode = 2;
        return std::nullopt;
    }
    endpoint.settings = ai::AISettings{endpoint.local->url(), engine::kApiKey, engine::kModelID};
    endpoint.notice = choice ? QStringLiteral("使用本机离线引擎（不上传照片）") : kUsingLocalEngine;
    return endpoint;
}

namespace {

struct Prompt {
    QString text;
    int maxTokens = 4096;
};

/// A prompt by name (tri) or from a UTF-8 text file.
std::optional<Prompt> promptFor(const QString& name) {
    if (name == QLatin1String("tri")) return Prompt{ImageTriClassifier::kPrompt, 128};
    if (name == QLatin1String("label"))
        return Prompt{RelicLabelExtracted::kPrompt, RelicLabelExtracted::kMaxTokens};
    if (name == QLatin1String("ocr")) return Prompt{ImageOCRProcessor::kPrompt, 4096};
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return Prompt{QString::fromUtf8(file.readAll()), 4096};
}

} // namespace

int prepareCommand(Args& args) {
    settingsForRun(args); // accepted for symmetry with chat; preparation needs no endpoint
    const auto output = args.take(QStringLiteral("-o"));
    if (args.unknownOption() || args.rest().size() != 1 || !output) {
        err(QStringLiteral("用法：vitrino-cli prepare IMAGE -o OUT.jpg"));
        return 2;
    }
    RAWJPEGExporter::Preparation report;
    const auto prepared = RAWJPEGExporter::prepareForUpload(args.path(0), &report);
    if (!prepared) {
        err(QStringLiteral("图片准备失败：") + prepared.error().description());
        return 1;
    }
    if (!writeFileAtomically(core::toPath(*output), prepared->data)) {
        err(QStringLiteral("无法写入文件：") + *output);
        return 1;
    }
    const auto& e = report.enhancement;
    out(QStringLiteral("尺寸 %1×%2，大小 %3 字节，质量 %4，m=%5，h=%6，ev=%7")
            .arg(report.compression.size.width)
            .arg(report.compression.size.height)
            .arg(prepared->data.size())
            .arg(report.compression.quality, 0, 'f', 2)
            .arg(e.stats.m, 0, 'f', 3)
            .arg(e.stats.h, 0, 'f', 3)
            .arg(e.ev ? QString::number(*e.ev, 'f', 3) : QStringLiteral("-")));
    return 0;
}

int chatCommand(Args& args) {
    int exitCode = 0;
    const auto endpoint = endpointForRun(args, exitCode);
    if (!endpoint) return exitCode;
    const auto promptName = args.take(QStringLiteral("--prompt"));
    const auto maxTokens = args.take(QStringLiteral("--max-tokens"));
    bool tokensOk = true;
    const int tokens = maxTokens ? maxTokens->toInt(&tokensOk) : 0;
    if (args.unknownOption() || args.rest().size() != 1 || !promptName || !tokensOk ||
        (maxTokens && tokens < 1)) {
        err(QStringLiteral("用法：vitrino-cli chat IMAGE --prompt tri|label|ocr|FILE [--max-tokens N] "
                           "[--engine remote|local] [--base-url URL] [--model ID]"));
        return 2;
    }
    const auto prompt = promptFor(*promptName);
    if (!prompt) {
        err(QStringLiteral("无法读取提示词：") + *promptName);
        return 2;
    }
    if (!endpoint->notice.isEmpty()) err(endpoint->notice);
    const auto reply = AIClient::chatWithImage(args.path(0), prompt->text, endpoint->settings,
                                               maxTokens ? tokens : prompt->maxTokens);
    if (!reply) {
        err(reply.error().description());
        return 1;
    }
    out(*reply);
    return 0;
}

} // namespace cli
