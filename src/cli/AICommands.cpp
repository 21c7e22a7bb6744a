#include "cli/Cli.h"

#include "ai/AIClient.h"
#include "ai/AIConfig.h"
#include "ai/RAWJPEGExporter.h"
#include "classify/ImageTriClassifier.h"
#include "core/Text.h"

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

namespace {

struct Prompt {
    QString text;
    int maxTokens = 4096;
};

/// A prompt by name (tri) or from a UTF-8 text file.
std::optional<Prompt> promptFor(const QString& name) {
    if (name == QLatin1String("tri")) return Prompt{ImageTriClassifier::kPrompt, 128};
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
    const ai::AISettings settings = settingsForRun(args);
    const auto promptName = args.take(QStringLiteral("--prompt"));
    const auto maxTokens = args.take(QStringLiteral("--max-tokens"));
    bool tokensOk = true;
    const int tokens = maxTokens ? maxTokens->toInt(&tokensOk) : 0;
    if (args.unknownOption() || args.rest().size() != 1 || !promptName || !tokensOk ||
        (maxTokens && tokens < 1)) {
        err(QStringLiteral(
            "用法：vitrino-cli chat IMAGE --prompt tri|FILE [--max-tokens N] [--base-url URL] [--model ID]"));
        return 2;
    }
    const auto prompt = promptFor(*promptName);
    if (!prompt) {
        err(QStringLiteral("无法读取提示词：") + *promptName);
        return 2;
    }
    if (!settings.isConfigured()) {
        err(AIClient::kNotConfigured);
        return 2;
    }
    const auto reply =
        AIClient::chatWithImage(args.path(0), prompt->text, settings, maxTokens ? tokens : prompt->maxTokens);
    if (!reply) {
        err(reply.error().description());
        return 1;
    }
    out(*reply);
    return 0;
}

} // namespace cli
