#pragma once

// Organized folders for refinement tests. A photograph's file carries its own feature print as
// text ("print:1,0,0"), so the fake print follows the file wherever it is moved; capture times
// are set through the file's modification time.

#include "refine/FeaturePrintRefiner.h"
#include "support/Fixtures.h"
#include "support/Shoot.h"

#include <QCryptographicHash>
#include <QFile>

#include <map>
#include <string>
#include <vector>

namespace refinetest {

namespace fs = std::filesystem;

inline QDateTime at(int minute) {
    return QDateTime(QDate(2024, 5, 1), QTime(10, 0)).addSecs(60 * minute);
}

struct Shot {
    std::string name;
    int minute = 0;
    std::vector<float> print; ///< empty: the print fails
};

inline void writeShot(const fs::path& folder, const Shot& shot) {
    fs::create_directories(folder);
    std::string text = "print:";
    for (size_t i = 0; i < shot.print.size(); ++i)
        text += (i ? "," : "") + std::to_string(shot.print[i]);
    fixtures::writeBytes(folder / shot.name, shot.print.empty() ? "no print " + shot.name : text);
    fixtures::setModified(folder / shot.name, at(shot.minute));
}

/// An exhibit folder: the shots, and a label card with sidecars when `labelStem` is given.
inline void writeFolder(const fs::path& folder, const std::vector<Shot>& shots,
                        const std::string& labelStem = {}) {
    fs::create_directories(folder);
    for (const Shot& shot : shots)
        writeShot(folder, shot);
    if (!labelStem.empty()) {
        fixtures::writeBytes(folder / (labelStem + ".json"), "{\"文物名称\":\"鼎\"}");
        fixtures::writeBytes(folder / (labelStem + ".txt"), "文物名称：鼎");
    }
}

/// Reads the print a file carries.
inline core::Result<FeaturePrintRefiner::FeaturePrint> fakePrint(const fs::path& file) {
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) return core::Error{QStringLiteral("cannot open")};
    const QByteArray text = in.readAll();
    if (!text.startsWith("print:")) return core::Error{QStringLiteral("no print")};
    FeaturePrintRefiner::FeaturePrint print;
    for (const QByteArray& part : text.mid(6).split(','))
        print.push_back(part.toFloat());
    return print;
}

/// Relative path → content hash of every file below `root`, and "dir" for every folder.
inline std::map<std::string, QByteArray> snapshot(const fs::path& root) {
    auto out = fixtures::treeHashes(root);
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_directory()) out[fs::relative(entry.path(), root).string()] = "dir";
    return out;
}

inline core::Log collect(QStringList& lines) {
    return [&lines](const QString& line) { lines << line; };
}

} // namespace refinetest
