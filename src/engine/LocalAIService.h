#pragma once

// The offline engine as an OpenAI-compatible chat-completions service on 127.0.0.1, for tools
// other than Vitrino itself: a thin wrapper over the in-process engine that answers Vitrino's
// three prompts (classification, label reading, OCR).

#include "engine/LocalVisionBackend.h"
#include "platform/HttpServer.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace engine {

inline const QString kModelID = QStringLiteral("vitrino-local");
inline const QString kApiKey = QStringLiteral("local");
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;

/// Answers one request body: 200 with an OpenAI-shaped reply, or 400 with a JSON error for a
/// malformed body, an unknown prompt or an image that does not decode.
platform::HttpReply answer(const QByteArray& body);

/// The engine on a loopback port, for as long as the object lives.
class LocalAIServer {
  public:
    /// port 0: any free port. The port, or why it cannot listen.
    core::Result<int> start(int port = 0);
    void stop();
    /// http://127.0.0.1:{port}/api/v3/chat/completions
    QString url() const;

  private:
    platform::HttpServer m_server;
};

} // namespace engine
