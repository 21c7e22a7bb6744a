#include "organize/Plan.h"

#include "core/Text.h"
#include "labels/Naming.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTime>

#include <map>
#include <set>

namespace plan {

namespace {

const QString kName = QStringLiteral("文物名称");
const QString kSource = QStringLiteral("文物来源");
const QString kPeriod = QStringLiteral("年代");
const QString kOther = QStringLiteral("其他");

const QString kBadFormat = QStringLiteral("计划文件格式不符：%1");

core::Error formatError(const QString& what) {
    return core::Error{kBadFormat.arg(what)};
}

QString timeText(qint64 ns) {
    qint64 seconds = ns / 1000000000;
    qint64 fraction = ns % 1000000000;
    if (fraction < 0) {
        fraction += 1000000000;
        --seconds;
    }
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral(".%1Z").arg(fraction, 9, 10, QLatin1Char('0'));
}

std::optional<qint64> parseTime(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})T(\\d{2}:\\d{2}:\\d{2})\\.(\\d{9})Z$"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QDate date = QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(match.captured(2), QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    const qint64 seconds = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    // Far beyond any file time; keeps the nanoseconds inside 64 bits.
    if (seconds < -9000000000LL || seconds > 9000000000LL) return std::nullopt;
    return seconds * 1000000000 + match.captured(3).toLongLong();
}

QJsonObject fileObject(const File& file) {
    return QJsonObject{{QStringLiteral("name"), QString::fromUtf8(file.name)},
                       {QStringLiteral("size"), file.stamp.size},
                       {QStringLiteral("mtime"), timeText(file.stamp.modifiedNs)}};
}

QJsonObject labelObject(const RelicLabelExtracted& label) {
    return QJsonObject{
        {kName, label.name}, {kSource, label.source}, {kPeriod, label.period}, {kOther, label.other}};
}

std::optional<GroupKind> kindNamed(const QString& name) {
    for (GroupKind kind : {GroupKind::label, GroupKind::panel, GroupKind::unreadLabel, GroupKind::leftovers})
        if (kindName(kind) == name) return kind;
    return std::nullopt;
}

bool isRole(const QString& role) {
    return role == QLatin1String("label") || role == QLatin1String("artifact") ||
           role == QLatin1String("panel") || role == QLatin1String("unknown");
}

/// Nothing when the name is one component inside the shoot, else the error.
std::optional<core::Error> checkName(const QString& name) {
    const QStringList parts = name.split(QLatin1Char('/'));
    if (name.startsWith(QLatin1Char('/')) || parts.contains(QStringLiteral("..")))
        return core::Error{kOutsideShoot.arg(name)};
    if (name.isEmpty() || name == QLatin1String(".") || name.contains(QLatin1Char('/')) ||
        name.contains(QChar(0)) || platform::isTemporaryName(name.toStdString()))
        return core::Error{kBadName.arg(name)};
    return std::nullopt;
}

core::Result<File> readFile(const QJsonValue& value, std::set<std::string>& seen) {
    if (!value.isObject()) return formatError(QStringLiteral("文件条目不是对象"));
    const QJsonObject object = value.toObject();
    const QJsonValue name = object.value(QStringLiteral("name"));
    const QJsonValue size = object.value(QStringLiteral("size"));
    const QJsonValue mtime = object.value(QStringLiteral("mtime"));
    if (!name.isString()) return formatError(QStringLiteral("文件条目缺少 name"));
    if (const auto error = checkName(name.toString())) return *error;
    const double sizeValue = size.toDouble(-1);
    if (!size.isDouble() || sizeValue < 0 || sizeValue > 9007199254740992.0 ||
        double(size.toInteger(-1)) != sizeValue)
        return formatError(QStringLiteral("%1 的 size 不是非负整数").arg(name.toString()));
    const auto time = parseTime(mtime.toString());
    if (!mtime.isString() || !time)
        return formatError(QStringLiteral("%1 的 mtime 无效").arg(name.toString()));
    File file{name.toString().toStdString(), {size.toInteger(), *time}};
    if (!seen.insert(file.name).second) return core::Error{kListedTwice.arg(name.toString())};
    return file;
}

core::Result<RelicLabelExtracted> readLabel(const QJsonValue& value) {
    if (!value.isObject()) return formatError(QStringLiteral("label 不是对象"));
    const QJsonObject object = value.toObject();
    QString fields[4];
    const QString* keys[4] = {&kName, &kSource, &kPeriod, &kOther};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue field = object.value(*keys[i]);
        if (field.isUndefined() || field.isNull()) continue;
        if (!field.isString()) return formatError(QStringLiteral("标签字段“%1”不是文本").arg(*keys[i]));
        fields[i] = field.toString();
    }
    return labelFromFields(fields[0], fields[1], fields[2], fields[3]);
}

core::Result<Group> readGroup(const QJsonValue& value, std::set<std::string>& seen) {
    if (!value.isObject()) return formatError(QStringLiteral("分组不是对象"));
    const QJsonObject object = value.toObject();
    const auto kind = kindNamed(object.value(QStringLiteral("kind")).toString());
    if (!kind) return formatError(QStringLiteral("分组的 kind 无效"));
    Group group;
    group.kind = *kind;
    if (group.kind == GroupKind::panel) {
        group.serial = QStringLiteral("0");
    } else {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
        const QJsonValue serial = object.value(QStringLiteral("serial"));
        if (!serial.isString() || !digits.match(serial.toString()).hasMatch())
            return formatError(QStringLiteral("分组的 serial 不是十进制数字"));
        group.serial = serial.toString();
        const QJsonValue label = object.value(QStringLiteral("label"));
        if (group.kind == GroupKind::label && !label.isObject())
            return formatError(QStringLiteral("标签分组缺少 label"));
        if (!label.isUndefined() && !label.isNull()) {
            auto record = readLabel(label);
            if (!record) return record.error();
            group.label = *record;
        }
    }
    const QJsonValue files = object.value(QStringLiteral("files"));
    if (!files.isArray()) return formatError(QStringLiteral("分组缺少 files"));
    for (const QJsonValue& item : files.toArray()) {
        auto file = readFile(item, seen);
        if (!file) return file.error();
        Entry entry{*file, QStringLiteral("unknown"), {}};
        const QJsonObject fileObject = item.toObject();
        const QJsonValue role = fileObject.value(QStringLiteral("role"));
        if (!role.isUndefined()) {
            if (!isRole(role.toString()))
                return formatError(QStringLiteral("%1 的 role 无效").arg(item["name"].toString()));
            entry.role = role.toString();
        }
        const QJsonValue companions = fileObject.value(QStringLiteral("companions"));
        if (!companions.isUndefined() && !companions.isArray())
            return formatError(QStringLiteral("companions 不是数组"));
        for (const QJsonValue& companion : companions.toArray()) {
            auto other = readFile(companion, seen);
            if (!other) return other.error();
            entry.companions.push_back(*other);
        }
        group.entries.push_back(std::move(entry));
    }
    return group;
}

} // namespace

RelicLabelExtracted labelFromFields(const QString& name, const QString& source, const QString& period,
                                    const QString& other) {
    // The same rules as a label read: the three naming fields fit for paths, the rest verbatim.
    return RelicLabelExtracted{RelicLabelExtracted::normalizeFieldForPathAndPersistence(name),
                               RelicLabelExtracted::normalizeFieldForPathAndPersistence(source),
                               RelicLabelExtracted::normalizeFieldForPathAndPersistence(period), other}
        .withPersistenceDefaultsForAIOutput();
}

QString kindName(GroupKind kind) {
    switch (kind) {
    case GroupKind::label:
        return QStringLiteral("label");
    case GroupKind::panel:
        return QStringLiteral("panel");
    case GroupKind::unreadLabel:
        return QStringLiteral("unread");
    case GroupKind::leftovers:
        return QStringLiteral("leftovers");
    }
    return {};
}

QString folderName(const Group& group) {
    if (group.kind == GroupKind::panel) return AutoOrganizer::kPanelFolder;
    if (group.label) return Naming::fitFolderName(group.label->newFolderName(group.serial));
    if (group.kind == GroupKind::leftovers)
        return Naming::fitFolderName(group.serial + QStringLiteral(" 其他"));
    return Naming::fitFolderName(group.serial + QStringLiteral(" 未识别标签"));
}

core::Result<Plan>
fromRun(const std::filesystem::path& folder, const std::vector<AutoOrganizer::PlannedGroup>& groups,
        const std::vector<MediaPipeline::ClassifiedItem>& classified,
        const std::function<std::optional<platform::FileStamp>(const std::filesystem::path&)>& stamp) {
    std::map<std::filesystem::path, const MediaPipeline::ClassifiedItem*> primaryOf, unitOf;
    for (const auto& item : classified) {
        primaryOf[item.unit.primary.path] = &item;
        unitOf[item.unit.primary.path] = &item;
        for (const auto& companion : item.unit.companions)
            unitOf[companion.path] = &item;
    }
    Plan plan;
    plan.folder = folder;
    for (const auto& planned : groups) {
        Group group;
        if (planned.isPanelFolder) {
            group.kind = GroupKind::panel;
            group.serial = QStringLiteral("0");
        } else {
            group.serial = planned.folderName.section(QLatin1Char(' '), 0, 0);
            group.label = planned.labelExtracted;
            group.kind = planned.labelExtracted                                       ? GroupKind::label
                         : planned.folderName.endsWith(QStringLiteral(" 未识别标签")) ? GroupKind::unreadLabel
                                                                                      : GroupKind::leftovers;
        }
        std::set<std::filesystem::path> inGroup, taken;
        for (const auto& info : planned.files)
            inGroup.insert(info.path);
        for (const auto& info : planned.files) {
            if (taken.count(info.path)) continue;
            auto file = [&](const ImageScanner::ImageInfo& i) -> core::Result<File> {
                const auto s = stamp(i.path);
                const std::string name = i.path.filename().native();
                if (!s) return core::Error{kMissing.arg(i.fileName)};
                if (QString::fromUtf8(name).toUtf8().toStdString() != name)
                    return core::Error{kNotUtf8.arg(i.fileName)};
                return File{name, *s};
            };
            auto primary = file(info);
            if (!primary) return primary.error();
            taken.insert(info.path);
            const auto unit = unitOf.find(info.path);
            Entry entry{*primary,
                        unit == unitOf.end() ? QStringLiteral("unknown") : rawValue(unit->second->category),
                        {}};
            if (primaryOf.count(info.path))
                for (const auto& companion : primaryOf[info.path]->unit.companions) {
                    if (!inGroup.count(companion.path) || taken.count(companion.path)) continue;
                    auto other = file(companion);
                    if (!other) return other.error();
                    taken.insert(companion.path);
                    entry.companions.push_back(*other);
                }
            group.entries.push_back(std::move(entry));
        }
        plan.groups.push_back(std::move(group));
    }
    return plan;
}

QByteArray toJSON(const Plan& plan) {
    QJsonArray groups;
    for (const Group& group : plan.groups) {
        QJsonObject object{{QStringLiteral("kind"), kindName(group.kind)},
                           {QStringLiteral("serial"), group.serial},
                           {QStringLiteral("folder"), folderName(group)}};
        if (group.label && group.kind != GroupKind::panel)
            object.insert(QStringLiteral("label"), labelObject(*group.label));
        QJsonArray files;
        for (const Entry& entry : group.entries) {
            QJsonObject file = fileObject(entry.file);
            file.insert(QStringLiteral("role"), entry.role);
            QJsonArray companions;
            for (const File& companion : entry.companions)
                companions.append(fileObject(companion));
            file.insert(QStringLiteral("companions"), companions);
            files.append(file);
        }
        object.insert(QStringLiteral("files"), files);
        groups.append(object);
    }
    const QJsonObject root{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("version"), kVersion},
                           {QStringLiteral("folder"), core::displayPath(plan.folder)},
                           {QStringLiteral("groups"), groups}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

core::Result<Plan> fromJSON(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) return core::Error{kNotJSON.arg(error.errorString())};
    if (!document.isObject()) return core::Error{kNotAPlan};
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != kFormat) return core::Error{kNotAPlan};
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != kVersion)
        return core::Error{
            kOtherVersion.arg(version.isDouble() ? QString::number(version.toDouble()) : QStringLiteral("?"))
                .arg(kVersion)};
    const QJsonValue folder = root.value(QStringLiteral("folder"));
    if (!folder.isString()) return formatError(QStringLiteral("缺少 folder"));
    const std::filesystem::path path = core::toPath(folder.toString());
    bool dotted = false;
    for (const auto& part : path)
        dotted = dotted || part == ".." || part == ".";
    if (!path.is_absolute() || dotted || folder.toString().contains(QChar(0)))
        return core::Error{kOutsideShoot.arg(folder.toString())};
    Plan plan;
    plan.folder = path;
    const QJsonValue groups = root.value(QStringLiteral("groups"));
    if (!groups.isArray()) return formatError(QStringLiteral("缺少 groups"));
    std::set<std::string> seen;
    for (const QJsonValue& value : groups.toArray()) {
        auto group = readGroup(value, seen);
        if (!group) return group.error();
        plan.groups.push_back(std::move(*group));
    }
    return plan;
}

std::vector<AutoOrganizer::PlannedGroup> toGroups(const Plan& plan, const std::filesystem::path& folder) {
    std::vector<AutoOrganizer::PlannedGroup> groups;
    auto info = [&](const File& file) {
        ImageScanner::ImageInfo i;
        i.path = folder / file.name;
        i.fileName = QString::fromUtf8(file.name);
        i.fileType = ImageScanner::typeForExtension(ImageScanner::lowerExtension(i.path));
        return i;
    };
    for (const Group& group : plan.groups) {
        if (group.entries.empty()) continue;
        AutoOrganizer::PlannedGroup planned;
        planned.folderName = folderName(group);
        planned.isPanelFolder = group.kind == GroupKind::panel;
        if (!planned.isPanelFolder) planned.labelExtracted = group.label;
        for (const Entry& entry : group.entries) {
            planned.files.push_back(info(entry.file));
            for (const File& companion : entry.companions)
                planned.files.push_back(info(companion));
        }
        groups.push_back(std::move(planned));
    }
    return groups;
}

std::vector<std::string> listedNames(const Plan& plan) {
    std::vector<std::string> names;
    for (const Group& group : plan.groups)
        for (const Entry& entry : group.entries) {
            names.push_back(entry.file.name);
            for (const File& companion : entry.companions)
                names.push_back(companion.name);
        }
    return names;
}

} // namespace plan
