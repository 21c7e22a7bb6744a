#pragma once

// The only place that talks to the AI service: one photograph and one instruction to an
// OpenAI-compatible chat-completions endpoint, the reply text back.

#include "ai/AIConfig.h"
#include "ai/RAWJPEGExporter.h"
#include "core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <filesystem>
#include <optional>

namespace AIClient {

struct ClientError {
    enum class Kind {
        apiError,
        imagePrepareFailed,
        notConfigured,
        invalidBaseURL,
        requestEncodeFailed,
        invalidResponse,
        responseParseFailed,
        transport, ///< the network layer's own error, its description kept
    };
    Kind kind = Kind::transport;
    int statusCode = 0;
    QString message; ///< apiError: the body; imagePrepareFailed: the cause; transport: Qt's text
    /// apiError: the reply's Retry-After (seconds or an HTTP date), in milliseconds, when it has one.
    std::optional<int> retryAfterMs = {};

    /// HTTP 429 or 503: the service asks to be tried again later.
    bool isBusy() const { return kind == Kind::apiError && (statusCode == 429 || statusCode == 503); }

    QString description() const;
};

inline const QString kNotConfigured = QStringLiteral("请先填写 API Base URL、Key 与 Model");
inline const QString kInvalidBaseURL = QStringLiteral("API Base URL 无效");
inline const QString kRequestEncodeFailed = QStringLiteral("请求编码失败");
inline const QString kInvalidResponse = QStringLiteral("无效响应");
inline const QString kResponseParseFailed = QStringLiteral("无法解析 API 返回");
inline const QString kTimedOut = QStringLiteral("请求超时：%1 秒内没有响应");

constexpr std::chrono::milliseconds kRequestTimeout{90'000};

using RAWJPEGExporter::PreparedImage;

/// Sends the image (prepared here from imagePath unless preparedOverride is given) and the prompt;
/// returns choices[0].message.content exactly as received. Synchronous: it runs its own event
/// loop, so call it from a worker thread (or a command-line main). The time-out is the longest
/// the connection may stay silent.
core::Result<QString, ClientError>
chatWithImage(const std::filesystem::path& imagePath, const QString& prompt, const ai::AISettings& config,
              int maxTokens, const std::optional<PreparedImage>& preparedOverride = std::nullopt,
              std::chrono::milliseconds timeout = kRequestTimeout);

/// What a finished exchange answered: a status other than 200 is an API error carrying the body
/// (its code when the body is not UTF-8); a 200 body must hold choices[0].message.content as text,
/// else "无法解析 API 返回".
core::Result<QString, ClientError> readReply(int statusCode, const QByteArray& body);

/// A Retry-After value (delay-seconds or an HTTP date, read against `now`) in milliseconds, at
/// most kLongestRetryAfter; nothing when it is neither.
std::optional<int> retryAfterMs(const QByteArray& value, const QDateTime& now);
constexpr std::chrono::milliseconds kLongestRetryAfter{120'000};

/// "data:{mime};base64,{standard Base64}".
QString dataURL(const PreparedImage& image);

/// The chat-completions request for one image and prompt, as chatWithImage posts it; nothing when
/// it cannot be encoded.
std::optional<QByteArray> requestBody(const QString& model, const QString& prompt, const PreparedImage& image,
                                      int maxTokens);

} // namespace AIClient
