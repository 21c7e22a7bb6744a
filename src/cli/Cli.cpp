#include "cli/Cli.h"

#include "core/Text.h"

#include <QSaveFile>

#include <cstdio>

namespace cli {

static void writeLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void out(const QString& line) {
    writeLine(stdout, line);
}
void err(const QString& line) {
    writeLine(stderr, line);
}

Args::Args(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        m_raw.emplace_back(argv[i]);
        m_rest << QString::fromLocal8Bit(argv[i]);
    }
}

std::optional<QString> Args::take(const QString& name) {
    const qsizetype i = m_rest.indexOf(name);
    if (i < 0 || i + 1 >= m_rest.size()) return std::nullopt;
    QString value = m_rest.at(i + 1);
    m_rest.remove(i, 2);
    m_raw.erase(m_raw.begin() + i, m_raw.begin() + i + 2);
    return value;
}

bool Args::flag(const QString& name) {
    const qsizetype i = m_rest.indexOf(name);
    if (i < 0) return false;
    m_rest.remove(i);
    m_raw.erase(m_raw.begin() + i);
    return true;
}

std::filesystem::path Args::path(int index) const {
    return std::filesystem::path(m_raw.at(size_t(index)));
}

std::optional<QString> Args::unknownOption() const {
    for (const auto& word : m_rest)
        if (word.startsWith(QLatin1String("--"))) return word;
    return std::nullopt;
}

bool writeFileAtomically(const std::filesystem::path& path, const QByteArray& bytes) {
    QSaveFile file(core::displayPath(path));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace cli
