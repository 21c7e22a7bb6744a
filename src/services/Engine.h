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
    QString notice; ///< a line to tell the user about the choice ("" for the configured service)
    bool isLocal = false;
    QString model = {}; ///< the model identifier runs name in their log ("API：{model}")
};

inline const QString kUsingLocalEngine = QStringLiteral("未配置 AI 接口，使用本机离线引擎（不上传照片）");
inline const QString kUsingLocalEngineByChoice = QStringLiteral("使用本机离线引擎（不上传照片）");
inline const QString kEngineChoiceInvalid = QStringLiteral("--engine 只能是 remote 或 local");

/// automatic: the remote service when it is configured or a base URL was given for this run,
/// else the offline engine, saying so. remote: the service, which must be configured
/// ("请先填写 API Base URL、Key 与 Model"). local: the offline engine.
core::Result<Engine> selectEngine(const ai::AISettings& settings, EngineChoice choice,
                                  bool baseURLGiven = false);

} // namespace services
