#include "support/Shoot.h"

#include "core/ImageTriClassifier.h"
#include "core/RelicLabelExtracted.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace fixtures {

Shoot::Shoot(const fs::path& dir, FakeAIServer& server) : m_dir(dir) {
    server.setHandler([this](const FakeAIServer::Request& request) {
        std::lock_guard lock(m_mutex);
        const bool tri = request.prompt == ImageTriClassifier::kPrompt;
        if (tri && m_busy[request.imageWidth] > 0) {
            --m_busy[request.imageWidth];
            return FakeAIServer::Reply{
                m_busyStatus[request.imageWidth], "busy", "text/plain", 0, false, {{"Retry-After", "0"}}};
        }
        auto& table = tri ? m_tri : m_label;
        const auto it = table.find(request.imageWidth);
        if (it == table.end()) return FakeAIServer::Reply{404, "unknown photo"};
        FakeAIServer::Reply reply = it->second;
        if (m_maxDelayMs > 0) reply.delayMs = std::uniform_int_distribution<int>(0, m_maxDelayMs)(m_random);
        return reply;
    });
}

void Shoot::busy(const std::string& name, const QString& date, int times, int status) {
    const int width = 200 + 8 * m_next;
    artifact(name, date);
    std::lock_guard lock(m_mutex);
    m_busy[width] = times;
    m_busyStatus[width] = status;
}

void Shoot::randomDelays(int maxMs, unsigned seed) {
    std::lock_guard lock(m_mutex);
    m_maxDelayMs = maxMs;
    m_random.seed(seed);
}

void Shoot::remember(const std::string& name) {
    m_originals[name] = QCryptographicHash::hash(QByteArray::fromStdString(readFile(m_dir / name)),
                                                 QCryptographicHash::Sha256)
                            .toHex();
}

void Shoot::photo(const std::string& name, const QString& date, const QString& triReply,
                  const QString& labelReply) {
    const int width = 200 + 8 * m_next++;
    writeJpeg(m_dir / name, width, 150, Dates{date.toStdString(), std::nullopt}, 0, unsigned(width));
    std::lock_guard lock(m_mutex);
    const bool plain = triReply == "panel" || triReply == "label" || triReply == "artifact";
    m_tri[width] = FakeAIServer::chat(
        plain ? QStringLiteral("{\"category\":\"%1\",\"confidence\":0.9}").arg(triReply) : triReply);
    if (!labelReply.isEmpty()) m_label[width] = FakeAIServer::chat(labelReply);
    remember(name);

    FakeVisionBackend::Script script;
    const ClassificationResult tri = ImageTriClassifier::parse(m_tri[width].body.empty() ? QString() : [&] {
        return QJsonDocument::fromJson(QByteArray::fromStdString(m_tri[width].body))
            .object()["choices"][0]["message"]["content"]
            .toString();
    }());
    script.category = tri.category;
    script.confidence = tri.confidence;
    if (!labelReply.isEmpty()) {
        const auto candidate = RelicLabelExtracted::parseJSONObjectWithCandidate(labelReply);
        if (candidate.object)
            script.label = RelicLabelExtracted::parseObject(*candidate.object);
        else
            script.labelError = QStringLiteral("无法解析 API 返回");
    }
    m_backend.script(QString::fromStdString(name), script);
}

void Shoot::label(const std::string& name, const QString& date, const QString& name_, const QString& source,
                  const QString& period) {
    const QJsonObject fields{
        {"文物名称", name_}, {"文物来源", source}, {"年代", period}, {"其他", "高 10 厘米"}};
    photo(name, date, "label", QString::fromUtf8(QJsonDocument(fields).toJson(QJsonDocument::Compact)));
}

void Shoot::raw(const std::string& name, const QString& date) {
    writeDng(m_dir / name, 64, 48, Dates{date.toStdString(), std::nullopt});
    remember(name);
}

void Shoot::video(const std::string& name, const QDateTime& when) {
    writeBytes(m_dir / name, "video " + name);
    setModified(m_dir / name, when);
    remember(name);
}

void smallExhibition(Shoot& shoot) {
    shoot.artifact("IMG_0001.JPG", "2024:05:01 10:00:00");
    shoot.raw("IMG_0001.DNG", "2024:05:01 10:00:00");
    shoot.artifact("IMG_0002.JPG", "2024:05:01 10:01:00");
    shoot.label("IMG_0003.JPG", "2024:05:01 10:02:00", "青铜鼎", "安阳殷墟出土", "商代晚期");
    shoot.panel("IMG_0004.JPG", "2024:05:01 10:03:00");
    shoot.video("IMG_0005.MOV", QDateTime(QDate(2024, 5, 1), QTime(10, 4), Qt::LocalTime));
    shoot.label("IMG_0006.JPG", "2024:05:01 10:05:00", "玉/琮", "寺墩遗址，常州博物馆藏", "良渚文化");
    shoot.raw("IMG_0006.DNG", "2024:05:01 10:05:00");
    shoot.artifact("IMG_0007.JPG", "2024:05:01 10:06:00");
}

void exhibits(Shoot& shoot, int count) {
    shoot.panel("P.JPG", "2024:05:01 10:00:00");
    for (int e = 0; e < count; ++e) {
        for (int s = 0; s < 3; ++s)
            shoot.artifact("E" + std::to_string(e) + "_" + std::to_string(s) + ".JPG",
                           QStringLiteral("2024:05:01 10:%1:0%2").arg(e * 5 + 10).arg(s));
        shoot.label("E" + std::to_string(e) + "_L.JPG", QStringLiteral("2024:05:01 10:%1:30").arg(e * 5 + 10),
                    QStringLiteral("器物%1").arg(e), QStringLiteral("遗址"), QStringLiteral("汉"));
    }
}

std::map<std::string, QByteArray> treeHashes(const fs::path& dir, bool pictures) {
    std::map<std::string, QByteArray> tree;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        QFile in(QString::fromStdString(entry.path().string()));
        QByteArray bytes = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
        if (pictures && bytes.startsWith("\xff\xd8") && bytes.indexOf("\xff\xda") > 0)
            bytes = bytes.mid(bytes.indexOf("\xff\xda"));
        tree[entry.path().lexically_relative(dir).string()] =
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    }
    return tree;
}

} // namespace fixtures
