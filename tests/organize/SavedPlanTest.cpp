// A plan written by a dry run, edited or not, carried out by the command line: the layout, the
// history, and every plan that must be refused before anything moves.

#include "organize/Plan.h"
#include "refine/MoveJournal.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <span>

using namespace fixtures;

namespace {

QString text(const fs::path& path) {
    return QString::fromStdString(path.string());
}

QJsonObject load(const fs::path& path) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(readFile(path))).object();
}

void save(const fs::path& path, const QJsonObject& root) {
    QFile file(text(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(root).toJson());
}

/// Edits the plan's groups in place: `edit` gets every group object, in order.
void editGroups(const fs::path& planFile, const std::function<void(std::vector<QJsonObject>&)>& edit) {
    QJsonObject root = load(planFile);
    std::vector<QJsonObject> groups;
    for (const QJsonValue& group : root["groups"].toArray())
        groups.push_back(group.toObject());
    edit(groups);
    QJsonArray array;
    for (const QJsonObject& group : groups)
        array.append(group);
    root["groups"] = array;
    save(planFile, root);
}

/// Takes the entry named `name` out of `from` and appends it to `to`.
void moveEntry(QJsonObject& from, QJsonObject& to, const QString& name) {
    QJsonArray source = from["files"].toArray(), target = to["files"].toArray();
    for (qsizetype i = 0; i < source.size(); ++i)
        if (source[i].toObject()["name"].toString() == name) {
            target.append(source[i]);
            source.removeAt(i);
            break;
        }
    from["files"] = source;
    to["files"] = target;
}

class SavedPlan : public ::testing::Test {
  protected:
    void SetUp() override {
        m_saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", (text(home.path()) + "/data").toUtf8());
        env = isolatedEnvironment(text(home.path()));
        fs::create_directory(shootDir());
        smallExhibition(shoot);
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", m_saved); }

    fs::path shootDir() const { return dir / "shoot"; }
    fs::path planFile() const { return dir / "plan.json"; }
    CliRun writePlan() {
        return runCli({"organize", text(shootDir()), "--dry-run", "--plan-out", text(planFile()),
                       "--base-url", server.url(), "--no-prefilter"},
                      env);
    }
    CliRun runPlan() { return runCli({"organize", text(shootDir()), "--plan", text(planFile())}, env); }

    TempDir home, dir;
    QProcessEnvironment env;
    FakeAIServer server;
    Shoot shoot{dir / "shoot", server};
    QByteArray m_saved;
};

} // namespace

TEST_F(SavedPlan, AnUneditedPlanGivesTheLayoutOfAPlainRunAndIsUndoneLikeOne) {
    const auto asShot = treeHashes(shootDir());
    const auto written = writePlan();
    ASSERT_EQ(written.exitCode, 0) << written.stdoutText.toStdString();
    EXPECT_TRUE(written.stdoutText.contains(QStringLiteral("计划已写入：")));
    EXPECT_EQ(treeHashes(shootDir()), asShot); // a dry run moves nothing

    QStringList folders;
    for (const QJsonValue& group : load(planFile())["groups"].toArray())
        folders << group["kind"].toString() + ":" + group["folder"].toString();
    EXPECT_EQ(folders, (QStringList{"panel:0 展板", "label:1 青铜鼎 安阳殷墟出土 商代晚期",
                                    "label:2 玉琮 寺墩遗址 良渚文化", "leftovers:3 其他"}));

    const size_t asked = server.requests().size();
    const auto carried = runPlan();
    EXPECT_EQ(carried.exitCode, 0) << carried.stdoutText.toStdString();
    EXPECT_EQ(server.requests().size(), asked); // no label read, no model asked
    const auto fromPlan = treeHashes(shootDir());

    const auto undone = runCli({"organize", "--undo", text(shootDir())}, env);
    EXPECT_EQ(undone.exitCode, 0) << undone.stdoutText.toStdString();
    EXPECT_EQ(treeHashes(shootDir()), asShot);

    const auto plain =
        runCli({"organize", text(shootDir()), "--base-url", server.url(), "--no-prefilter"}, env);
    ASSERT_EQ(plain.exitCode, 0) << plain.stdoutText.toStdString();
    EXPECT_EQ(treeHashes(shootDir()), fromPlan);
    EXPECT_EQ(fromPlan.count("1 青铜鼎 安阳殷墟出土 商代晚期/IMG_0003.json"), 1u);
}

TEST_F(SavedPlan, EditedFieldsNameTheFolderAndMovedFilesTakeTheirCompanions) {
    ASSERT_EQ(writePlan().exitCode, 0);
    editGroups(planFile(), [](std::vector<QJsonObject>& groups) {
        ASSERT_EQ(groups.size(), 4u);
        QJsonObject label = groups[1]["label"].toObject();
        label["文物名称"] = QStringLiteral("青铜/方鼎"); // a slash is no path here
        label["其他"] = QStringLiteral("高 30 厘米");
        groups[1]["label"] = label;
        moveEntry(groups[1], groups[2], QStringLiteral("IMG_0001.JPG")); // with its DNG
        moveEntry(groups[3], groups[2], QStringLiteral("IMG_0007.JPG")); // leftovers emptied
    });
    writeBytes(shootDir() / "IMG_0100.JPG", "shot after the plan");

    const auto run = runPlan();
    EXPECT_EQ(run.exitCode, 0) << run.stdoutText.toStdString();
    const QStringList lines = unstamped(run.stdoutText);
    EXPECT_TRUE(lines.contains(QStringLiteral("[警告] 计划之后新增的 1 个文件留在原处：IMG_0100.JPG")))
        << run.stdoutText.toStdString();

    std::set<std::string> tree;
    for (const auto& [path, hash] : treeHashes(shootDir()))
        tree.insert(path);
    const std::set<std::string> expected = {
        "0 展板/IMG_0004.JPG",
        "1 青铜方鼎 安阳殷墟出土 商代晚期/IMG_0003.JPG",
        "1 青铜方鼎 安阳殷墟出土 商代晚期/IMG_0003.json",
        "1 青铜方鼎 安阳殷墟出土 商代晚期/IMG_0003.txt",
        "1 青铜方鼎 安阳殷墟出土 商代晚期/IMG_0002.JPG",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0006.JPG",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0006.DNG",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0006.json",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0006.txt",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0005.MOV",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0001.JPG",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0001.DNG",
        "2 玉琮 寺墩遗址 良渚文化/IMG_0007.JPG",
        "IMG_0100.JPG",
    };
    EXPECT_EQ(tree, expected);
    const QJsonObject saved =
        QJsonDocument::fromJson(QByteArray::fromStdString(readFile(
                                    shootDir() / "1 青铜方鼎 安阳殷墟出土 商代晚期" / "IMG_0003.json")))
            .object();
    EXPECT_EQ(saved["文物名称"].toString(), QStringLiteral("青铜方鼎"));
    EXPECT_EQ(saved["其他"].toString(), QStringLiteral("高 30 厘米"));
    EXPECT_TRUE(
        QString::fromStdString(readFile(shootDir() / "1 青铜方鼎 安阳殷墟出土 商代晚期" / "IMG_0003.txt"))
            .contains(QStringLiteral("青铜方鼎")));

    const auto undone = runCli({"undo", text(shootDir())}, env);
    EXPECT_EQ(undone.exitCode, 0) << undone.stdoutText.toStdString();
    EXPECT_EQ(treeHashes(shootDir()).size(), shoot.originals().size() + 1);
}

namespace {

/// `node` with the value at `path` (object keys and array indexes) replaced.
QJsonValue replaced(const QJsonValue& node, std::span<const QJsonValue> path, const QJsonValue& value) {
    if (path.empty()) return value;
    if (path[0].isString()) {
        QJsonObject object = node.toObject();
        object[path[0].toString()] = replaced(object[path[0].toString()], path.subspan(1), value);
        return object;
    }
    QJsonArray array = node.toArray();
    array[path[0].toInt()] = replaced(array[path[0].toInt()], path.subspan(1), value);
    return array;
}

} // namespace

TEST_F(SavedPlan, APlanThatDoesNotFitIsRefusedBeforeAnythingMoves) {
    ASSERT_EQ(writePlan().exitCode, 0);
    const QJsonObject good = load(planFile());
    TempDir other;
    struct Case {
        const char* what;
        std::vector<QJsonValue> path; // in the plan's JSON (groups: panel, two labels, leftovers)
        QJsonValue value;
        QString error;
        QByteArray bytes = {}; // instead of the plan, when not empty
    };
    const std::vector<Case> cases = {
        {"not JSON", {}, {}, "计划文件不是有效的 JSON", "{\"format\": \"vitrino-organize-plan\", "},
        {"JSON but no plan", {}, {}, plan::kNotAPlan, "[1, 2, 3]"},
        {"another format", {"format"}, "other-plan", plan::kNotAPlan},
        {"another version", {"version"}, 2, "计划文件版本 2 不受支持（支持版本 1）"},
        {"another folder", {"folder"}, text(other.path()), "计划属于另一个文件夹："},
        {"a relative folder", {"folder"}, "shoot", "计划中的路径不在拍摄文件夹内：shoot"},
        {"a folder through ..",
         {"folder"},
         text(shootDir() / ".." / "shoot"),
         "计划中的路径不在拍摄文件夹内"},
        {"a name with a slash",
         {"groups", 1, "files", 1, "name"},
         "sub/IMG_0001.JPG",
         "计划中的文件名无效：sub/IMG_0001.JPG"},
        {"a name outside the shoot",
         {"groups", 1, "files", 1, "name"},
         "../IMG_0001.JPG",
         "计划中的路径不在拍摄文件夹内：../IMG_0001.JPG"},
        {"an absolute name",
         {"groups", 1, "files", 1, "name"},
         "/etc/passwd",
         "计划中的路径不在拍摄文件夹内：/etc/passwd"},
        {"a name that is ..", {"groups", 1, "files", 1, "name"}, "..", "计划中的路径不在拍摄文件夹内：.."},
        {"a file listed twice",
         {"groups", 1, "files", 2, "name"},
         "IMG_0003.JPG",
         "计划中的文件出现了不止一次：IMG_0003.JPG"},
        {"a companion listed as a photo",
         {"groups", 1, "files", 2, "name"},
         "IMG_0001.DNG",
         "计划中的文件出现了不止一次：IMG_0001.DNG"},
        {"a negative size", {"groups", 1, "files", 1, "size"}, -1, "计划文件格式不符"},
        {"a bad time", {"groups", 1, "files", 1, "mtime"}, "yesterday", "计划文件格式不符"},
        {"a bad serial", {"groups", 1, "serial"}, "../1", "计划文件格式不符"},
        {"an unknown kind", {"groups", 1, "kind"}, "exhibit", "计划文件格式不符"},
        {"a missing file",
         {"groups", 1, "files", 2, "name"},
         "IMG_0099.JPG",
         "计划已过时：IMG_0099.JPG 已不存在"},
        {"a missing companion",
         {"groups", 2, "files", 0, "companions", 0, "name"},
         "IMG_0099.DNG",
         "计划已过时：IMG_0099.DNG 已不存在"},
        {"another size", {"groups", 3, "files", 0, "size"}, 1, "计划已过时：IMG_0007.JPG 的大小已改变"},
        {"another time",
         {"groups", 0, "files", 0, "mtime"},
         "2001-01-01T00:00:00.000000000Z",
         "计划已过时：IMG_0004.JPG 的修改时间已改变"},
    };
    const auto before = treeHashes(shootDir());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile file(text(planFile()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.bytes.isEmpty() ? QJsonDocument(replaced(good, c.path, c.value).toObject()).toJson()
                                     : c.bytes);
        file.close();
        const auto run = runPlan();
        EXPECT_EQ(run.exitCode, 2) << run.stdoutText.toStdString();
        EXPECT_TRUE(run.stdoutText.contains(QStringLiteral("[失败] ") + c.error))
            << run.stdoutText.toStdString();
        ASSERT_EQ(treeHashes(shootDir()), before); // nothing moved, nothing written
    }
    save(planFile(), good);
    EXPECT_EQ(runPlan().exitCode, 0);
}

TEST_F(SavedPlan, TheFormatReadsBackWhatItWritesAndMakesFolderNamesAsARunDoes) {
    plan::Plan written;
    written.folder = "/photos/展览 2024";
    plan::Group label{
        plan::GroupKind::label, "12", RelicLabelExtracted{"鼎", "殷墟", "商", "馆藏：某馆\n\"高\" 30"}, {}};
    label.entries.push_back({{"IMG_1.JPG", {123, 1714557600123456789}}, "label", {{"IMG_1.CR3", {9, -5}}}});
    label.entries.push_back({{"视频 1.MOV", {0, 0}}, "artifact", {}});
    written.groups = {
        {plan::GroupKind::panel, "0", std::nullopt, {{{"P.JPG", {1, 2}}, "panel", {}}}},
        label,
        {plan::GroupKind::unreadLabel, "13", std::nullopt, {}},
        {plan::GroupKind::leftovers, "14", std::nullopt, {{{"X.HEIC", {4, 5}}, "unknown", {}}}},
    };
    const auto read = plan::fromJSON(plan::toJSON(written));
    ASSERT_TRUE(read) << read.error().description().toStdString();
    EXPECT_EQ(*read, written);
    QStringList names;
    for (const auto& group : written.groups)
        names << plan::folderName(group);
    EXPECT_EQ(names, (QStringList{"0 展板", "12 鼎 殷墟 商", "13 未识别标签", "14 其他"}));
    // Empty groups are not carried out; companions follow their photo.
    const auto groups = plan::toGroups(*read, "/shoot");
    ASSERT_EQ(groups.size(), 3u);
    ASSERT_EQ(groups[1].files.size(), 3u);
    EXPECT_EQ(groups[1].files[1].path, fs::path("/shoot/IMG_1.CR3"));
    EXPECT_EQ(groups[1].files[2].fileType, ImageScanner::ImageInfo::ImageType::video);
    EXPECT_TRUE(groups[0].isPanelFolder);
    EXPECT_FALSE(groups[0].labelExtracted);
}
