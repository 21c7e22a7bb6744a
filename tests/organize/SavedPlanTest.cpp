// A plan written by a dry run, edited or not, carried out by the command line: the layout, the
// history, the edited fields, and every plan that must be refused before anything moves.

#include "core/ImageTriClassifier.h"
#include "organize/Plan.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <set>

using namespace fixtures;

namespace {

QString text(const fs::path& path) {
    return QString::fromStdString(path.string());
}

QJsonObject load(const fs::path& path) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(readFile(path))).object();
}

struct SavedPlan : ::testing::Test {
    SavedPlan() {
        fs::create_directory(shootDir());
        smallExhibition(shoot);
    }
    fs::path shootDir() const { return dir / "shoot"; }
    fs::path planFile() const { return dir / "plan.json"; }
    CliRun writePlan() {
        return runCli({"organize", text(shootDir()), "--dry-run", "--plan-out", text(planFile()),
                       "--base-url", server.url(), "--no-prefilter"},
                      env);
    }
    CliRun runPlan() { return runCli({"organize", text(shootDir()), "--plan", text(planFile())}, env); }

    TempDir home, dir;
    QProcessEnvironment env = isolatedEnvironment(text(home.path()));
    FakeAIServer server;
    Shoot shoot{dir / "shoot", server};
};

} // namespace

TEST_F(SavedPlan, AnUneditedPlanGivesTheLayoutOfAPlainRunAndIsUndoneLikeOne) {
    writeBytes(shootDir() / "notes.txt", "kept where it is");
    const auto asShot = treeHashes(shootDir());
    const QStringList expected(
        {"开始扫描：shoot",
         "模式：按拍摄时间整理 + 全量 AI 三分类",
         "扫描完成：共 9 个（RAW 2 / JPG 6 / HEIC 0 / 视频 1）",
         "识别任务 7 个（同名 RAW 跟移 2 个；有 JPG 则只认 JPG，Vision/AI 流程与原先一致）",
         "[1/7] 准备 AI 识别：IMG_0001.JPG",
         "[1/7] IMG_0001.JPG → 文物 (confidence 0.90)；同名跟移：IMG_0001.DNG",
         "[2/7] 准备 AI 识别：IMG_0002.JPG",
         "[2/7] IMG_0002.JPG → 文物 (confidence 0.90)",
         "[3/7] 准备 AI 识别：IMG_0003.JPG",
         "[3/7] IMG_0003.JPG → 标签 (confidence 0.90)",
         "[4/7] 准备 AI 识别：IMG_0004.JPG",
         "[4/7] IMG_0004.JPG → 展板 (confidence 0.90)",
         "[5/7] IMG_0005.MOV → 视频（不调 AI，按文物）",
         "[6/7] 准备 AI 识别：IMG_0006.JPG",
         "[6/7] IMG_0006.JPG → 标签 (confidence 0.90)；同名跟移：IMG_0006.DNG",
         "[7/7] 准备 AI 识别：IMG_0007.JPG",
         "[7/7] IMG_0007.JPG → 文物 (confidence 0.90)",
         "展板 1 个文件 → 0 展板",
         "抽取标签字段：IMG_0003.JPG (1/2)",
         "  名称=青铜鼎 来源=安阳殷墟出土 年代=商代晚期",
         "新组：1 青铜鼎 安阳殷墟出土 商代晚期（4 个文件）",
         "抽取标签字段：IMG_0006.JPG (2/2)",
         "  名称=玉琮 来源=寺墩遗址 年代=良渚文化",
         "新组：2 玉琮 寺墩遗址 良渚文化（3 个文件）",
         "剩余 1 个 → 3 其他",
         "—— 规划结果 ——",
         "文件夹 0 展板：1 个文件",
         "  • IMG_0004.JPG",
         "文件夹 1 青铜鼎 安阳殷墟出土 商代晚期：4 个文件",
         "  • IMG_0003.JPG",
         "  • IMG_0001.JPG",
         "  • IMG_0001.DNG",
         "  • IMG_0002.JPG",
         "文件夹 2 玉琮 寺墩遗址 良渚文化：3 个文件",
         "  • IMG_0006.JPG",
         "  • IMG_0006.DNG",
         "  • IMG_0005.MOV",
         "文件夹 3 其他：1 个文件",
         "  • IMG_0007.JPG",
         "创建：0 展板",
         "创建：1 青铜鼎 安阳殷墟出土 商代晚期",
         "创建：2 玉琮 寺墩遗址 良渚文化",
         "创建：3 其他",
         "全部完成。移动 9 个文件，错误 0 条。"});

    // The dry run, one request at a time, logs the classification and the plan, and moves nothing.
    const auto written = writePlan();
    ASSERT_EQ(written.exitCode, 0) << written.stdoutText.toStdString();
    const QStringList dryLines = unstamped(written.stdoutText);
    const QString notice = QStringLiteral("预演：只分类、读标签并列出计划，不创建文件夹、不移动文件");
    const qsizetype planned = expected.indexOf("创建：0 展板"); // where the moves would begin
    EXPECT_EQ(dryLines.mid(dryLines.indexOf(notice), planned + 2),
              QStringList{notice} + expected.mid(0, planned) +
                  QStringList{"预演完成：计划 4 个文件夹、9 个文件；未创建文件夹，未移动文件。错误 0 条。"});
    EXPECT_EQ(server.mostAtOnce(), 1);
    EXPECT_TRUE(written.stdoutText.contains(QStringLiteral("计划已写入：")));
    EXPECT_EQ(treeHashes(shootDir()), asShot);

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

    // A plain run with four requests in flight, answered in any order: the same log and layout, and
    // each label card read only after its own classification came back.
    shoot.randomDelays(150, 25);
    const auto plain = runCli(
        {"organize", text(shootDir()), "--base-url", server.url(), "--no-prefilter", "--requests", "4"}, env);
    ASSERT_EQ(plain.exitCode, 0) << plain.stdoutText.toStdString();
    const QStringList lines = unstamped(plain.stdoutText);
    EXPECT_EQ(lines.mid(lines.indexOf(expected[0]), expected.size()), expected);
    EXPECT_GT(server.mostAtOnce(), 1);
    const auto sent = server.requests();
    ASSERT_EQ(sent.size(), asked + 8);
    std::set<int> classified;
    for (size_t i = asked; i < sent.size(); ++i)
        if (sent[i].prompt == ImageTriClassifier::kPrompt)
            classified.insert(sent[i].imageWidth);
        else
            EXPECT_TRUE(classified.count(sent[i].imageWidth)) << "a label read before its classification";
    EXPECT_EQ(treeHashes(shootDir()), fromPlan);
    EXPECT_EQ(fromPlan.count("1 青铜鼎 安阳殷墟出土 商代晚期/IMG_0003.json"), 1u);
    EXPECT_EQ(readFile(shootDir() / "2 玉琮 寺墩遗址 良渚文化/IMG_0006.txt"),
              "文物名称：玉琮\n文物来源：寺墩遗址\n年代：良渚文化\n其他：高 10 厘米");

    // Undone again, a label text the user corrected since stays, and so does the folder it is in.
    writeBytes(shootDir() / "2 玉琮 寺墩遗址 良渚文化" / "IMG_0006.txt", "文物名称：更正");
    const QStringList again = unstamped(runCli({"organize", "--undo", text(shootDir())}, env).stdoutText);
    for (const char* line :
         {"  [保留] IMG_0006.txt（整理后已改动）", "  [删除] IMG_0006.json（整理时写入的标签文件）",
          "  [删除] IMG_0003.txt（整理时写入的标签文件）", "  [删除] 0 展板/（空文件夹）"})
        EXPECT_TRUE(again.contains(QString::fromUtf8(line))) << line;
    auto kept = asShot;
    kept["2 玉琮 寺墩遗址 良渚文化/IMG_0006.txt"] =
        QCryptographicHash::hash("文物名称：更正", QCryptographicHash::Sha256).toHex();
    EXPECT_EQ(treeHashes(shootDir()), kept);
}

namespace {

/// `node` with the value at `path` ("groups/1/name": object keys and array indexes) replaced.
QJsonValue replaced(const QJsonValue& node, QStringList path, const QJsonValue& value) {
    if (path.isEmpty()) return value;
    const QString key = path.takeFirst();
    bool isIndex = false;
    const int index = key.toInt(&isIndex);
    if (!isIndex) {
        QJsonObject object = node.toObject();
        object[key] = replaced(object[key], path, value);
        return object;
    }
    QJsonArray array = node.toArray();
    array[index] = replaced(array[index], path, value);
    return array;
}

} // namespace

TEST_F(SavedPlan, APlanThatDoesNotFitIsRefusedBeforeAnythingMoves) {
    ASSERT_EQ(writePlan().exitCode, 0);
    const QJsonObject good = load(planFile());
    TempDir other;
    const struct {
        const char* path; ///< in the plan's JSON (groups: panel, two labels, leftovers)
        QJsonValue value;
        QString error;
        QByteArray bytes = {}; ///< instead of the plan, when not empty
    } cases[] = {
        {"", {}, "计划文件不是有效的 JSON", "{\"format\": \"vitrino-organize-plan\", "},
        {"", {}, plan::kNotAPlan, "[1, 2, 3]"},
        {"version", 2, "计划文件版本 2 不受支持（支持版本 1）"},
        {"folder", text(other.path()), "计划属于另一个文件夹："},
        {"folder", text(shootDir() / ".." / "shoot"), "计划中的路径不在拍摄文件夹内"},
        {"groups/1/files/1/name", "sub/IMG_0001.JPG", "计划中的文件名无效：sub/IMG_0001.JPG"},
        {"groups/1/files/1/name", "../IMG_0001.JPG", "计划中的路径不在拍摄文件夹内：../IMG_0001.JPG"},
        {"groups/1/files/2/name", "IMG_0003.JPG", "计划中的文件出现了不止一次：IMG_0003.JPG"},
        {"groups/1/kind", "exhibit", "计划文件格式不符"},
        {"groups/1/files/2/name", "IMG_0099.JPG", "计划已过时：IMG_0099.JPG 已不存在"},
        {"groups/3/files/0/size", 1, "计划已过时：IMG_0007.JPG 的大小已改变"},
        {"groups/0/files/0/mtime", "2001-01-01T00:00:00.000000000Z",
         "计划已过时：IMG_0004.JPG 的修改时间已改变"},
    };
    const auto before = treeHashes(shootDir());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        const QStringList path = QString(c.path).split('/', Qt::SkipEmptyParts);
        writeBytes(
            planFile(),
            (c.bytes.isEmpty() ? QJsonDocument(replaced(good, path, c.value).toObject()).toJson() : c.bytes)
                .toStdString());
        const auto run = runPlan();
        EXPECT_EQ(run.exitCode, 2) << run.stdoutText.toStdString();
        EXPECT_TRUE(run.stdoutText.contains(QStringLiteral("[失败] ") + c.error))
            << run.stdoutText.toStdString();
        ASSERT_EQ(treeHashes(shootDir()), before); // nothing moved, nothing written
    }
    // An edited name names the folder and the label files (a slash is no path here).
    const auto edited = replaced(good, {"groups", "1", "label", "文物名称"}, "青铜/方鼎");
    writeBytes(planFile(), QJsonDocument(edited.toObject()).toJson().toStdString());
    EXPECT_EQ(runPlan().exitCode, 0);
    const fs::path folder = shootDir() / "1 青铜方鼎 安阳殷墟出土 商代晚期";
    EXPECT_EQ(load(folder / "IMG_0003.json")["文物名称"].toString(), QStringLiteral("青铜方鼎"));
    EXPECT_TRUE(fs::exists(folder / "IMG_0001.DNG"));
}
