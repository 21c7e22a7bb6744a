#include "services/ServiceEntry.h"

#include <QUrl>

namespace ServiceEntry {

namespace {

std::optional<QUrl> parseOurs(const QString& text) {
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().toLower() != kScheme) return std::nullopt;
    return url;
}

std::vector<std::filesystem::path> itemsOf(const QUrl& url) {
    // The query is split by hand on its encoded form: an encoded "&" or "=" stays part of a value,
    // and the decoded bytes become the path as they are, so names that are not UTF-8 survive.
    std::vector<std::filesystem::path> out;
    const QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    for (const QByteArray& item : query.split('&')) {
        const qsizetype eq = item.indexOf('=');
        if (eq < 0 || QByteArray::fromPercentEncoding(item.left(eq)) != "path") continue;
        const QByteArray value = QByteArray::fromPercentEncoding(item.mid(eq + 1));
        if (value.isEmpty()) continue;
        std::filesystem::path path(value.toStdString());
        if (!path.is_absolute()) continue;
        out.push_back(std::move(path));
    }
    return out;
}

} // namespace

bool isOpenURL(const QString& text) {
    return parseOurs(text).has_value();
}

std::vector<std::filesystem::path> pathItems(const QString& url) {
    const auto parsed = parseOurs(url);
    return parsed ? itemsOf(*parsed) : std::vector<std::filesystem::path>{};
}

std::optional<Request> parseOpenURL(const QString& url) {
    const auto parsed = parseOurs(url);
    if (!parsed) return std::nullopt;
    Request request;
    request.kind = parsed->host().toLower() == QLatin1String("ocr") ? FinderWorkItem::Kind::ocrImage
                                                                    : FinderWorkItem::Kind::nameFolder;
    request.paths = itemsOf(*parsed);
    if (request.paths.empty()) return std::nullopt;
    return request;
}

QString openURL(const Request& request) {
    QString url = kScheme + (request.kind == FinderWorkItem::Kind::ocrImage ? QStringLiteral("://ocr")
                                                                            : QStringLiteral("://name"));
    QChar separator = QLatin1Char('?');
    for (const auto& path : request.paths) {
        const QByteArray bytes = QByteArray::fromStdString(path.string());
        url += separator + QStringLiteral("path=") + QString::fromLatin1(bytes.toPercentEncoding("/"));
        separator = QLatin1Char('&');
    }
    return url;
}

} // namespace ServiceEntry
