// The offline engine service's reading of a request body, as any program on this machine may
// post one to its loopback port: the JSON, the prompt, the data URL, its Base64 and the image.
// Every body gets a JSON reply, and a successful one is a chat completion that Vitrino's own
// client reads.
//
// The text models are kept out of reach here, so that a picture that decodes ends at the engine's
// "models missing" error instead of a network pass per input; the engine's reading of a page is
// the engine_page target's.

#include "ai/AIClient.h"
#include "engine/LocalAIService.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("VITRINO_MODELS_DIR", "/nonexistent/vitrino-fuzz-models");
    // Qt's image plugins (the last-resort decoder) are found through the application object.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const platform::HttpReply reply = engine::answer(body);
    if (reply.status != 200 && reply.status != 400 && reply.status != 500) std::abort();
    const QJsonDocument document = QJsonDocument::fromJson(reply.body);
    if (!document.isObject()) std::abort();
    if (reply.status == 200) {
        if (!AIClient::readReply(reply.status, reply.body)) std::abort();
    } else if (document.object().value("error").toObject().value("message").toString().isEmpty()) {
        std::abort();
    }
    return 0;
}
