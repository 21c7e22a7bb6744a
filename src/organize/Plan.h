#pragma once

// The plan of an organize run as a file the user can read and edit before anything moves: the
// shoot, its groups in order (kind, serial, folder name, label fields) and every file with its
// companions, size and modification time. Reading it checks everything that can be checked
// without the disk; docs/PLAN_FORMAT.md describes the format.

#include "classify/Classification.h"
#include "core/RelicLabelExtracted.h"
#include "core/Result.h"
#include "organize/AutoOrganizer.h"
#include "platform/FileSystem.h"

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace plan {

inline const QString kFormat = QStringLiteral("vitrino-organize-plan");
inline constexpr int kVersion = 1;

/// Why a plan is refused: the file itself.
inline const QString kNotJSON = QStringLiteral("计划文件不是有效的 JSON：%1");
inline const QString kNotAPlan = QStringLiteral("计划文件格式不符：不是 Vitrino 的整理计划");
/// {version found}, {version supported}.
inline const QString kOtherVersion = QStringLiteral("计划文件版本 %1 不受支持（支持版本 %2）");
inline const QString kOutsideShoot = QStringLiteral("计划中的路径不在拍摄文件夹内：%1");
inline const QString kBadName = QStringLiteral("计划中的文件名无效：%1");
inline const QString kListedTwice = QStringLiteral("计划中的文件出现了不止一次：%1");
/// Writing a plan: a file that vanished meanwhile, a name the plan cannot hold.
inline const QString kMissing = QStringLiteral("文件不存在：%1");
inline const QString kNotUtf8 = QStringLiteral("文件名不是 UTF-8，无法写入计划：%1");

enum class GroupKind { label, panel, unreadLabel, leftovers };

/// One file as the plan saw it: its name inside the shoot (one path component, UTF-8).
struct File {
    std::string name;
    platform::FileStamp stamp;
    bool operator==(const File&) const = default;
};

/// A photograph and the companions that travel with it (its RAW, a video of the same stem).
struct Entry {
    File file;
    QString role; ///< "label", "artifact", "panel" or "unknown", as it was classified
    std::vector<File> companions;
    bool operator==(const Entry&) const = default;
};

struct Group {
    GroupKind kind = GroupKind::label;
    QString serial; ///< decimal; "0" for the panel folder
    /// Label and unread-label groups: the fields that name the folder (field rules applied).
    std::optional<RelicLabelExtracted> label;
    std::vector<Entry> entries;
    bool operator==(const Group&) const = default;
};

struct Plan {
    std::filesystem::path folder; ///< absolute
    std::vector<Group> groups;
    bool operator==(const Plan&) const = default;
};

/// "label", "panel", "unread", "leftovers".
QString kindName(GroupKind kind);

/// Label fields as a user typed them, through the rules of a label read: the three naming fields
/// fit for paths (unsafe characters and whitespace removed, empty source and period as "来源不明"
/// and "年代不明"), the rest as typed.
RelicLabelExtracted labelFromFields(const QString& name, const QString& source, const QString& period,
                                    const QString& other);

/// The folder a group goes to, made from its kind, serial and fields exactly as a run names it.
QString folderName(const Group& group);

/// The plan of a run: groups in order, each file under its unit's primary (the primary's
/// category is its role). `stamp` gives each file's size and time; nothing for a file that is
/// gone (an error naming it).
core::Result<Plan>
fromRun(const std::filesystem::path& folder, const std::vector<AutoOrganizer::PlannedGroup>& groups,
        const std::vector<MediaPipeline::ClassifiedItem>& classified,
        const std::function<std::optional<platform::FileStamp>(const std::filesystem::path&)>& stamp);

/// The plan as indented UTF-8 JSON.
QByteArray toJSON(const Plan& plan);

/// Reads a plan: anything that is not a well-formed plan of this version is an error naming what
/// is wrong (never a crash). Names are single path components, no file is listed twice, serials
/// are decimal, label fields go through the field rules.
core::Result<Plan> fromJSON(const QByteArray& bytes);

/// The groups to carry out inside `folder`: empty groups left out, each file (primary, then its
/// companions) at folder/name, folder names made by folderName().
std::vector<AutoOrganizer::PlannedGroup> toGroups(const Plan& plan, const std::filesystem::path& folder);

/// The files the plan lists, in order.
std::vector<std::string> listedNames(const Plan& plan);

} // namespace plan
