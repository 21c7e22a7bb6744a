#include "support/FakeVisionBackend.h"

#include "core/Text.h"

#include <thread>

namespace fixtures {

void FakeVisionBackend::script(const QString& fileName, Script script) {
    const std::lock_guard<std::mutex> hold(m_mutex);
    m_scripts[fileName] = std::move(script);
}

void FakeVisionBackend::classifyAs(const QString& fileName, MediaCategory category, double confidence) {
    const std::lock_guard<std::mutex> hold(m_mutex);
    m_scripts[fileName].category = category;
    m_scripts[fileName].confidence = confidence;
}

void FakeVisionBackend::label(const QString& fileName, RelicLabelExtracted fields) {
    const std::lock_guard<std::mutex> hold(m_mutex);
    m_scripts[fileName].category = MediaCategory::label;
    m_scripts[fileName].label = std::move(fields);
}

FakeVisionBackend::Script FakeVisionBackend::scriptFor(const std::filesystem::path& photo) const {
    const std::lock_guard<std::mutex> hold(m_mutex);
    const auto it = m_scripts.find(core::displayName(photo));
    return it == m_scripts.end() ? Script{} : it->second;
}

void FakeVisionBackend::request(const QString& kind, const std::filesystem::path& photo) {
    const QString name = core::displayName(photo);
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        m_calls << kind + QLatin1Char(' ') + name;
    }
    if (m_hook) m_hook(name);
    if (m_latency.count() > 0) std::this_thread::sleep_for(m_latency);
}

core::Result<ai::PreparedPhoto> FakeVisionBackend::prepare(const std::filesystem::path&) const {
    ++m_prepared;
    return ai::PreparedPhoto{RAWJPEGExporter::PreparedImage{QByteArray("jpeg"), QStringLiteral("image/jpeg")},
                             std::nullopt};
}

core::Result<ai::PreparedPhoto> FakeVisionBackend::prepareFrom(const platform::Bitmap&) const {
    ++m_preparedFromPictures;
    return prepare({});
}

core::Result<ClassificationResult> FakeVisionBackend::classify(const std::filesystem::path& photo,
                                                               const ai::PreparedPhoto&) {
    request(QStringLiteral("classify"), photo);
    const Script script = scriptFor(photo);
    return ClassificationResult{script.category.value_or(MediaCategory::artifact),
                                script.confidence.value_or(0.9), QString()};
}

core::Result<RelicLabelExtracted> FakeVisionBackend::readLabel(const std::filesystem::path& photo,
                                                               const ai::PreparedPhoto&) {
    request(QStringLiteral("label"), photo);
    const Script script = scriptFor(photo);
    if (script.labelError) return core::Error{*script.labelError};
    return script.label.value_or(RelicLabelExtracted{});
}

core::Result<QString> FakeVisionBackend::readText(const std::filesystem::path& photo,
                                                  const ai::PreparedPhoto&) {
    request(QStringLiteral("text"), photo);
    return QString();
}

QStringList FakeVisionBackend::calls() const {
    const std::lock_guard<std::mutex> hold(m_mutex);
    return m_calls;
}

} // namespace fixtures
