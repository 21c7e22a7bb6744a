// A plan written by a dry run, edited or not, carried out by the command line: the layout, the
// history, the edited fields, and every plan that must be refused before anything moves.

#include "organize/Plan.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

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
    const QStringList dryLines = unstamped(written.stdoutText);
    EXPECT_TRUE(
        dryLines.contains(QStringLiteral("预演：只分类、读标签并列出计划，不创建文件夹、不移动文件")));
    EXPECT_TRUE(
        dryLines.contains("预演完成：计划 4 个文件夹、9 个文件；未创建文件夹，未移动文件。错误 0 条。"));
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
        {"another version", {"version"}, 2, "计划文件版本 2 不受支持（支持版本 1）"},
        {"another folder", {"folder"}, text(other.path()), "计划属于另一个文件夹："},
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
        {"a file listed twice",
         {"groups", 1, "files", 2, "name"},
         "IMG_0003.JPG",
         "计划中的文件出现了不止一次：IMG_0003.JPG"},
        {"an unknown kind", {"groups", 1, "kind"}, "exhibit", "计划文件格式不符"},
        {"a missing file",
         {"groups", 1, "files", 2, "name"},
         "IMG_0099.JPG",
         "计划已过时：IMG_0099.JPG 已不存在"},
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
    // An edited name names the folder and the label files (a slash is no path here).
    save(planFile(), replaced(good, std::vector<QJsonValue>{"groups", 1, "label", "文物名称"},
                              QStringLiteral("青铜/方鼎"))
                         .toObject());
    EXPECT_EQ(runPlan().exitCode, 0);
    const fs::path edited = shootDir() / "1 青铜方鼎 安阳殷墟出土 商代晚期";
    EXPECT_EQ(load(edited / "IMG_0003.json")["文物名称"].toString(), QStringLiteral("青铜方鼎"));
    EXPECT_TRUE(fs::exists(edited / "IMG_0001.DNG"));
}
