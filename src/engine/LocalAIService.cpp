#include "engine/LocalAIService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

namespace engine {
namespace {

platform::HttpReply error(int status, const QString& message) {
    const QJsonObject body{{"error", QJsonObject{{"message", message}, {"type", "invalid_request_error"}}}};
    return {status, QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

platform::HttpReply reply(const QString& model, const QString& content) {
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    const QJsonObject choice{{"index", 0}, {"message", message}, {"finish_reason", "stop"}};
    const QJsonObject body{{"id", "local-" + QUuid::createUuid().toString(QUuid::WithoutBraces)},
                           {"object", "chat.completion"},
                           {"model", model},
                           {"choices", QJsonArray{choice}}};
    return {200, QJsonDocument(body).toJson(QJsonDocument::Compact)};
}

} // namespace

platform::HttpReply answer(const QByteArray& body) {
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject())
        return error(400, QStringLiteral("请求体不是 JSON 对象"));
    const QJsonObject request = doc.object();
    const QJsonArray messages = request.value("messages").toArray();
    if (messages.isEmpty() || !messages.first().isObject())
        return error(400, QStringLiteral("缺少 messages"));

    QString imageURL, prompt;
    for (const QJsonValue& part : messages.first().toObject().value("content").toArray()) {
        const QJsonObject object = part.toObject();
        if (object.value("type") == QLatin1String("image_url") && imageURL.isEmpty())
            imageURL = object.value("image_url").toObject().value("url").toString();
        else if (object.value("type") == QLatin1String("text") && prompt.isEmpty())
            prompt = object.value("text").toString();
    }
    const auto kind = promptKind(prompt);
    if (!kind)
        return error(400,
                     QStringLiteral("未知的提示词：本机离线引擎只回答 Vitrino 的分类、标签与 OCR 提示词"));

    const qsizetype comma = imageURL.indexOf(QLatin1Char(','));
    if (!imageURL.startsWith(QLatin1String("data:")) || comma < 0 ||
        !imageURL.left(comma).endsWith(QLatin1String(";base64")))
        return error(400, QStringLiteral("缺少 data URL 形式的图片"));
    const auto decoded = QByteArray::fromBase64Encoding(imageURL.mid(comma + 1).toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return error(400, QStringLiteral("图片的 Base64 编码无效"));
    const std::vector<unsigned char> bytes(decoded.decoded.begin(), decoded.decoded.end());
    const auto image = platform::decodeImageBytes(bytes);
    if (!image) return error(400, QStringLiteral("无法解码图片"));

    const auto content = LocalVisionBackend::reply(*kind, *image);
    if (!content) return error(500, content.error().description());
    return reply(request.value("model").toString(kModelID), *content);
}

core::Result<int> LocalAIServer::start(int port) {
    return m_server.start(
        port, [](const QString&, const QByteArray& body) { return answer(body); }, kMaxBodyBytes);
}

void LocalAIServer::stop() {
    m_server.stop();
}

QString LocalAIServer::url() const {
    return QStringLiteral("http://127.0.0.1:%1/api/v3/chat/completions").arg(m_server.port());
}

} // namespace engine
