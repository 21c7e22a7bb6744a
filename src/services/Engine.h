#pragma once

// The one place that decides which vision backend a run talks to: the configured remote service
// or the offline engine on this machine.

#include "ai/AIConfig.h"
#include "ai/VisionBackend.h"
#include "core/Result.h"

#include <QString>

#include <memory>
#include <optional>

namespace services {

enum class EngineChoice { automatic, remote, local };

/// "remote" or "local"; nothing for any other word.
std::optional<EngineChoice> engineChoiceFromName(const QString& name);

struct Engine {
    std::unique_ptr<ai::VisionBackend> backend;
    QString notice; ///< the line that tells the log which engine the run uses
    bool isLocal = false;
    QString model = {}; ///< the model identifier runs name in their log ("API：{model}")
};

inline const QString kUsingLocalEngine = QStringLiteral("未配置 AI 接口，使用本机离线引擎（不上传照片）");
inline const QString kUsingLocalEngineByChoice = QStringLiteral("使用本机离线引擎（不上传照片）");
inline const QString kLocalEngineOverridesBaseURL = QStringLiteral(
    "已开启本机离线引擎（不上传照片），不使用 --base-url；要使用 AI 接口，请加 --engine remote");
/// {host}, {model}: the service a run sends its photographs to.
inline const QString kUsingRemoteEngine = QStringLiteral("使用 AI 接口：%1（模型 %2）");
inline const QString kEngineChoiceInvalid = QStringLiteral("--engine 只能是 remote 或 local");

/// The one rule every front end (command line, main window, file-manager jobs) picks its engine
/// by: an explicit choice (the command line's --engine) first; then the stored offline switch
/// (settings.useOfflineEngine: on is the offline engine, off the configured service); then the
/// automatic choice: the configured service, or the offline engine when nothing is configured
/// and no base URL was given for this run. With the switch on, nothing given for one run (a
/// --base-url, a --model, a key in the environment) sends anything anywhere; the notice says
/// so when a base URL was given. The remote service must be configured ("请先填写 API Base
/// URL、Key 与 Model"). Every engine comes with the line that tells the log which it is.
core::Result<Engine> selectEngine(const ai::AISettings& settings, EngineChoice choice,
                                  bool baseURLGiven = false);

} // namespace services
