#include "ai/AIClient.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <mutex>

namespace AIClient {

QString ClientError::description() const {
    switch (kind) {
    case Kind::apiError:
        return QStringLiteral("API 错误 %1: %2").arg(statusCode).arg(message);
    case Kind::imagePrepareFailed:
        return QStringLiteral("图片准备失败：") + message;
    case Kind::notConfigured:
        return kNotConfigured;
    case Kind::invalidBaseURL:
        return kInvalidBaseURL;
    case Kind::requestEncodeFailed:
        return kRequestEncodeFailed;
    case Kind::invalidResponse:
        return kInvalidResponse;
    case Kind::responseParseFailed:
        return kResponseParseFailed;
    case Kind::transport:
        return message;
    }
    return message;
}

QString dataURL(const PreparedImage& image) {
    return QStringLiteral("data:") + image.mime + QStringLiteral(";base64,") +
           QString::fromLatin1(image.data.toBase64());
}

std::optional<QByteArray> requestBody(const QString& model, const QString& prompt, const PreparedImage& image,
                                      int maxTokens) {
    const QJsonObject imagePart{{"type", "image_url"}, {"image_url", QJsonObject{{"url", dataURL(image)}}}};
    const QJsonObject textPart{{"type", "text"}, {"text", prompt}};
    const QJsonObject message{{"role", "user"}, {"content", QJsonArray{imagePart, textPart}}};
    const QJsonObject body{{"model", model},
                           {"messages", QJsonArray{message}},
                           {"max_tokens", maxTokens},
                           {"thinking", QJsonObject{{"type", "disabled"}}}};
    QByteArray bytes = QJsonDocument(body).toJson(QJsonDocument::Compact);
    if (bytes.isEmpty()) return std::nullopt;
    return bytes;
}

namespace {

ClientError error(ClientError::Kind kind, QString message = {}, int status = 0) {
    return ClientError{kind, status, std::move(message)};
}

/// Proxies come from the system configuration (http_proxy, https_proxy, no_proxy on Linux).
void useSystemProxiesOnce() {
    static std::once_flag once;
    std::call_once(once, [] { QNetworkProxyFactory::setUseSystemConfiguration(true); });
}

} // namespace

core::Result<QString, ClientError> chatWithImage(const std::filesystem::path& imagePath,
                                                 const QString& prompt, const ai::AISettings& config,
                                                 int maxTokens,
                                                 const std::optional<PreparedImage>& preparedOverride,
                                                 std::chrono::milliseconds timeout) {
    const QString baseURL = config.baseURL.trimmed();
    const QString apiKey = config.apiKey.trimmed();
    const QString modelID = config.modelID.trimmed();
    if (baseURL.isEmpty() || apiKey.isEmpty() || modelID.isEmpty())
        return error(ClientError::Kind::notConfigured);

    // Only web addresses: the key must never be posted to a file or another scheme.
    const QUrl url(baseURL, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return error(ClientError::Kind::invalidBaseURL);

    PreparedImage image;
    if (preparedOverride) {
        image = *preparedOverride;
    } else {
        auto prepared = RAWJPEGExporter::prepareForUpload(imagePath);
        if (!prepared) return error(ClientError::Kind::imagePrepareFailed, prepared.error().description());
        image = std::move(prepared.value());
    }

    const auto body = requestBody(modelID, prompt, image, maxTokens);
    if (!body) return error(ClientError::Kind::requestEncodeFailed);

    useSystemProxiesOnce();
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + apiKey.toUtf8());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(static_cast<int>(timeout.count()));

    QNetworkAccessManager manager;
    QEventLoop loop;
    QNetworkReply* reply = manager.post(request, *body);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QByteArray responseBody = reply->isOpen() ? reply->readAll() : QByteArray();
    const QNetworkReply::NetworkError networkError = reply->error();
    const QString networkText = reply->errorString();
    const QByteArray retryAfter = reply->rawHeader("Retry-After");
    reply->deleteLater();

    // Errors below 200 are the network's (connection, time-out, TLS, proxy); the rest are Qt's
    // reading of an HTTP status, which is handled from the status itself.
    if (networkError != QNetworkReply::NoError && int(networkError) < 200) {
        // Qt reports its transfer time-out as a cancelled operation; say what happened.
        if (networkError == QNetworkReply::OperationCanceledError ||
            networkError == QNetworkReply::TimeoutError)
            return error(ClientError::Kind::transport, kTimedOut.arg(timeout.count() / 1000.0));
        return error(ClientError::Kind::transport, networkText);
    }
    if (!status.isValid()) {
        if (networkError != QNetworkReply::NoError) return error(ClientError::Kind::transport, networkText);
        return error(ClientError::Kind::invalidResponse);
    }
    auto answer = readReply(status.toInt(), responseBody);
    if (!answer && !retryAfter.isEmpty()) {
        ClientError failed = answer.error();
        failed.retryAfterMs = retryAfterMs(retryAfter, QDateTime::currentDateTimeUtc());
        return failed;
    }
    return answer;
}

std::optional<int> retryAfterMs(const QByteArray& value, const QDateTime& now) {
    const QByteArray trimmed = value.trimmed();
    const auto longest = static_cast<qint64>(kLongestRetryAfter.count());
    bool isNumber = false;
    const qint64 seconds = trimmed.toLongLong(&isNumber);
    if (isNumber) {
        if (seconds < 0) return std::nullopt;
        return int(std::min(seconds, longest / 1000) * 1000);
    }
    // An HTTP date ("Wed, 21 Oct 2015 07:28:00 GMT") is RFC 2822's form with the zone as a name.
    QString date = QString::fromLatin1(trimmed);
    if (date.endsWith(QLatin1String(" GMT"))) date = date.chopped(4) + QLatin1String(" +0000");
    const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
    if (!when.isValid()) return std::nullopt;
    return int(std::clamp(now.msecsTo(when), qint64(0), longest));
}

core::Result<QString, ClientError> readReply(int statusCode, const QByteArray& body) {
    if (statusCode != 200) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8.decode(body);
        if (utf8.hasError()) text = QString::number(statusCode);
        return error(ClientError::Kind::apiError, text, statusCode);
    }
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    const QJsonValue choices = doc.object().value(QStringLiteral("choices"));
    if (!doc.isObject() || !choices.isArray() || choices.toArray().isEmpty())
        return error(ClientError::Kind::responseParseFailed);
    const QJsonValue first = choices.toArray().first();
    const QJsonValue message = first.toObject().value(QStringLiteral("message"));
    const QJsonValue content = message.toObject().value(QStringLiteral("content"));
    if (!first.isObject() || !message.isObject() || !content.isString())
        return error(ClientError::Kind::responseParseFailed);
    return content.toString();
}

} // namespace AIClient
