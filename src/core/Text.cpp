#include "core/Text.h"

namespace core {

QString displayPath(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString displayName(const std::filesystem::path& path) {
    return displayPath(path.filename());
}

std::filesystem::path toPath(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::filesystem::path(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QString escapeControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\n')
            out += QStringLiteral("\\n");
        else if (u == '\r')
            out += QStringLiteral("\\r");
        else if (u == '\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace core
