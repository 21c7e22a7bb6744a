#pragma once

// The offline engine: an OpenAI-compatible chat-completions service on 127.0.0.1 that answers
// Vitrino's three prompts (classification, label reading, OCR) from on-device text recognition.
// The client and its protocol stay as they are; only the address changes.

#include "platform/HttpServer.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace engine {

inline const QString kModelID = QStringLiteral("vitrino-local");
inline const QString kApiKey = QStringLiteral("local");
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

enum class PromptKind { classify, label, ocr };

/// Which of Vitrino's prompts this is (compared exactly).
std::optional<PromptKind> promptKind(const QString& prompt);

/// Answers one request body: 200 with an OpenAI-shaped reply, or 400 with a JSON error for a
/// malformed body, an unknown prompt or an image that does not decode.
platform::HttpReply answer(const QByteArray& body);

/// The engine on a loopback port, for as long as the object lives.
class LocalAIServer {
  public:
    /// port 0: any free port. False when it cannot listen.
    bool start(int port = 0);
    void stop();
    /// http://127.0.0.1:{port}/api/v3/chat/completions
    QString url() const;

  private:
    platform::HttpServer m_server;
};

} // namespace engine
