#include "cli/Cli.h"

#include "ai/RequestSlots.h"

#include "platform/FileSystem.h"

#include "ai/AIClient.h"
#include "ai/AIConfig.h"
#include "ai/RAWJPEGExporter.h"
#include "ai/RemoteVisionBackend.h"
#include "core/Prompts.h"
#include "core/Text.h"
#include "engine/LocalVisionBackend.h"

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

std::optional<int> requestsForRun(Args& args) {
    if (!args.rest().contains(QStringLiteral("--requests")))
        return ai::AIConfig::shared().maxRequestsInFlight();
    const auto value = args.take(QStringLiteral("--requests"));
    bool ok = false;
    const int n = value ? value->toInt(&ok) : 0;
    if (!ok || n < ai::kFewestRequestsInFlight || n > ai::kMostRequestsInFlight) return std::nullopt;
    return n;
}

std::optional<services::Engine> engineForRun(Args& args) {
    const auto choiceName = args.take(QStringLiteral("--engine"));
    const bool urlGiven = args.rest().contains(QStringLiteral("--base-url"));
    const ai::AISettings settings = settingsForRun(args);
    std::optional<services::EngineChoice> choice = services::EngineChoice::automatic;
    if (choiceName) choice = services::engineChoiceFromName(*choiceName);
    if (!choice) {
        err(services::kEngineChoiceInvalid);
        return std::nullopt;
    }
    auto engine = services::selectEngine(settings, *choice, urlGiven);
    if (!engine) {
        err(engine.error().description());
        return std::nullopt;
    }
    return std::move(engine.value());
}

namespace {

struct Prompt {
    QString text;
    int maxTokens = 4096;
};

/// A prompt by name (tri) or from a UTF-8 text file.
std::optional<Prompt> promptFor(const QString& name) {
    if (name == QLatin1String("tri"))
        return Prompt{core::prompts::kClassify, core::prompts::kClassifyMaxTokens};
    if (name == QLatin1String("label")) return Prompt{core::prompts::kLabel, core::prompts::kLabelMaxTokens};
    if (name == QLatin1String("ocr")) return Prompt{core::prompts::kOCR, core::prompts::kOCRMaxTokens};
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return Prompt{QString::fromUtf8(file.readAll()), 4096};
}

/// What the offline engine answers to one of Vitrino's prompts, on the photograph prepared as
/// for any request.
core::Result<QString> localReply(const std::filesystem::path& photo, const QString& prompt) {
    const auto kind = engine::promptKind(prompt);
    if (!kind) return core::Error{QStringLiteral("本机离线引擎只回答 tri、label、ocr 三种提示词")};
    const auto prepared = engine::LocalVisionBackend().prepare(photo);
    if (!prepared) return core::Error{ai::kImagePrepareFailed + prepared.error().description()};
    return engine::LocalVisionBackend::reply(*kind, *prepared->bitmap);
}

core::Result<QString> remoteReply(const services::Engine& engine, const std::filesystem::path& photo,
                                  const QString& prompt, int maxTokens) {
    const auto& settings = static_cast<const ai::RemoteVisionBackend&>(*engine.backend).settings();
    auto reply = AIClient::chatWithImage(photo, prompt, settings, maxTokens);
    if (!reply) return core::Error{reply.error().description()};
    return std::move(reply.value());
}

} // namespace

int prepareCommand(Args& args) {
    settingsForRun(args); // accepted for symmetry with chat; preparation needs no endpoint
    const auto output = args.take(QStringLiteral("-o"));
    if (args.unknownOption() || args.rest().size() != 1 || !output) return usageError("prepare");
    RAWJPEGExporter::Preparation report;
    const auto prepared = RAWJPEGExporter::prepareForUpload(args.path(0), &report);
    if (!prepared) {
        err(QStringLiteral("图片准备失败：") + prepared.error().description());
        return 1;
    }
    if (platform::writeFileAtomically(core::toPath(*output), prepared->data)) {
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
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    const auto promptName = args.take(QStringLiteral("--prompt"));
    const auto maxTokens = args.take(QStringLiteral("--max-tokens"));
    bool tokensOk = true;
    const int tokens = maxTokens ? maxTokens->toInt(&tokensOk) : 0;
    if (args.unknownOption() || args.rest().size() != 1 || !promptName || !tokensOk ||
        (maxTokens && tokens < 1))
        return usageError("chat");
    const auto prompt = promptFor(*promptName);
    if (!prompt) {
        err(QStringLiteral("无法读取提示词：") + *promptName);
        return 2;
    }
    // A one-off request names only the offline engine (the service is the one asked for).
    if (engine->isLocal) err(engine->notice);
    const auto reply = engine->isLocal ? localReply(args.path(0), prompt->text)
                                       : remoteReply(*engine, args.path(0), prompt->text,
                                                     maxTokens ? tokens : prompt->maxTokens);
    if (!reply) {
        err(reply.error().description());
        return 1;
    }
    out(*reply);
    return 0;
}

} // namespace cli
