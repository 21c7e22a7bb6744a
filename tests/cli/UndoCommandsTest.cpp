#include "core/Text.h"
#include "refine/FeaturePrintRefiner.h"
#include "refine/MoveJournal.h"
#include "support/FileSystems.h"
#include "support/Process.h"
#include "support/RefineFixtures.h"
#include "support/Shoot.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <signal.h>

using namespace fixtures;
using refinetest::snapshot;
using refinetest::writeFolder;

namespace {

QString text(const fs::path& path) {
    return QString::fromStdString(path.string());
}

/// Lines of the command's output without their "HH:mm:ss " stamps (each line must have one).
QStringList unstamped(const CliRun& run) {
    return fixtures::unstamped(run.stdoutLines());
}

/// The test process writes journals where the command line reads them.
class UndoCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        m_saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", (text(home.path()) + "/data").toUtf8());
        env = isolatedEnvironment(text(home.path()));
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", m_saved); }

    TempDir home;
    QProcessEnvironment env;
    QByteArray m_saved;
};

/// Two exhibits; b0 and b1 of the second folder look like the first exhibit.
void organizedFolder(const fs::path& root) {
    writeFolder(root / "1 甲", {{"a1.JPG", 1, {1, 0}}, {"a2.JPG", 2, {1, 0.1f}}, {"L1.JPG", 3, {0, 1}}},
                "L1");
    writeFolder(
        root / "2 乙",
        {{"b0.JPG", 4, {1, 0.02f}}, {"b1.JPG", 5, {1, 0.05f}}, {"b2.JPG", 6, {0, 1}}, {"L2.JPG", 7, {0, 1}}},
        "L2");
}

/// A refinement pass over an organized folder (it moves b0 and b1), journaled; the journal's file.
fs::path refineWithJournal(const fs::path& root) {
    auto journal = MoveJournal::Writer::create(MoveJournal::Kind::refine, root);
    FeaturePrintRefiner::Options options;
    options.featurePrint = refinetest::fakePrint;
    options.journal = journal->get();
    EXPECT_EQ(FeaturePrintRefiner::refine(root, core::logOnly([](const QString&) {}), options).movedCount, 2);
    return (*journal)->file();
}

/// A panel, then three exhibits of three photos and a label card each.
void threeExhibits(Shoot& shoot) {
    shoot.panel("P.JPG", "2024:05:01 10:00:00");
    for (int e = 0; e < 3; ++e) {
        for (int s = 0; s < 3; ++s)
            shoot.artifact("E" + std::to_string(e) + "_" + std::to_string(s) + ".JPG",
                           QStringLiteral("2024:05:01 10:%1:0%2").arg(e * 5 + 10).arg(s));
        shoot.label("E" + std::to_string(e) + "_L.JPG", QStringLiteral("2024:05:01 10:%1:30").arg(e * 5 + 10),
                    QStringLiteral("器物%1").arg(e), QStringLiteral("遗址"), QStringLiteral("汉"));
    }
}

} // namespace

TEST_F(UndoCommands, RefineUndoRestoresTheLastPassOfThisShootOnly) {
    TempDir dir;
    const auto& root = dir.path();
    organizedFolder(root);
    const auto before = snapshot(root);
    refineWithJournal(root);
    const auto run = runCli({"refine", "--undo", text(root)}, env);
    EXPECT_EQ(run.exitCode, 0) << run.stdoutText.toStdString() << run.stderrText.toStdString();
    EXPECT_EQ(
        unstamped(run),
        (QStringList{QStringLiteral("—— 撤销上一次后处理 ——"), QStringLiteral("待恢复 2 个文件"),
                     QStringLiteral("  [撤销] b1.JPG → 2 乙/"), QStringLiteral("  [撤销] b0.JPG → 2 乙/"),
                     QStringLiteral("撤销结束。恢复 2 个文件，剩余 0 条，错误 0 条。"),
                     QStringLiteral("—— 撤销结束 ——")}));
    EXPECT_TRUE(snapshot(root) == before);

    const auto again = runCli({"refine", "--undo", text(root)}, env);
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(unstamped(again).contains(QStringLiteral("[失败] 没有可撤销的后处理记录")))
        << again.stdoutText.toStdString();

    // A journal copied from another shoot is refused.
    TempDir other;
    organizedFolder(other.path());
    const fs::path file = refineWithJournal(other.path());
    fs::copy_file(file, MoveJournal::directoryFor(root) / file.filename());
    const auto foreign = runCli({"refine", "--undo", text(root)}, env);
    EXPECT_EQ(foreign.exitCode, 1);
    EXPECT_TRUE(unstamped(foreign).contains(
        QStringLiteral("[失败] ") +
        MoveJournal::kForeign.arg(core::displayPath(MoveJournal::folderIdentity(other.path())))))
        << foreign.stdoutText.toStdString();
    EXPECT_TRUE(snapshot(root) == before);
}

TEST_F(UndoCommands, OrganizeUndoRestoresTheShootEvenAfterAKill) {
    // Killed after 1, 5 and 11 moves, and not killed at all (0).
    for (const int moves : {1, 5, 11, 0}) {
        SCOPED_TRACE(testing::Message() << "killed after " << moves << " moves");
        FakeAIServer server;
        TempDir dir;
        Shoot shoot(dir.path(), server);
        threeExhibits(shoot);
        shoot.raw("E0_L.DNG", "2024:05:01 10:10:30");
        fs::create_directory(dir / "已有文件夹");
        const auto before = snapshot(dir.path());

        const QStringList args{"organize", text(dir.path()), "--base-url", server.url(), "--no-prefilter"};
        if (moves == 0) {
            EXPECT_EQ(runCli(args, env).exitCode, 0);
        } else {
            QProcess process;
            process.setProcessEnvironment(env);
            process.setStandardOutputFile(QProcess::nullDevice());
            process.setArguments(args);
            signalAfterMoves(process, dir.path(), moves, {}, SIGKILL);
        }
        EXPECT_FALSE(snapshot(dir.path()) == before);

        const auto undo = runCli({"organize", "--undo", text(dir.path())}, env);
        EXPECT_EQ(undo.exitCode, 0) << undo.stdoutText.toStdString();
        EXPECT_EQ(unstamped(undo).front(), QStringLiteral("—— 撤销上一次整理 ——"));
        EXPECT_TRUE(snapshot(dir.path()) == before) << undo.stdoutText.toStdString();
    }
}

TEST_F(UndoCommands, EveryOperationIsUndoneNewestFirstUntilTheShootIsAsShot) {
    FakeAIServer server;
    TempDir dir;
    Shoot shoot(dir.path(), server);
    threeExhibits(shoot);
    writeBytes(dir / "E1_2.xmp", "<x:xmpmeta/>"); // an edit sidecar
    writeBytes(dir / "E2_L.txt", "my own notes"); // the photographer's note beside a label card
    const fs::path root = MoveJournal::folderIdentity(dir.path());
    const auto before = pictureHashes(root);
    const QStringList remote{"--base-url", server.url(), "--no-prefilter"};

    ASSERT_EQ(runCli(QStringList{"organize", text(root)} + remote, env).exitCode, 0);
    std::vector<fs::path> exhibits;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.is_directory() && entry.path().filename().string().rfind("0 ", 0) != 0)
            exhibits.push_back(entry.path());
    ASSERT_EQ(exhibits.size(), 3u);
    for (const auto& folder : exhibits) {
        const auto named = runCli(QStringList{"name", text(folder)} + remote, env);
        EXPECT_EQ(named.exitCode, 0) << named.stdoutText.toStdString();
    }
    EXPECT_EQ(runCli({"refine", text(root)}, env).exitCode, 0);
    // OCR of a label card replaces the label text that naming wrote, and says so.
    fs::path card;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().filename() == "E1_L.JPG") card = entry.path();
    ASSERT_FALSE(card.empty());
    const auto ocr = runCli({"ocr", text(card), "--base-url", server.url()}, env);
    EXPECT_EQ(ocr.exitCode, 0) << ocr.stdoutText.toStdString();
    EXPECT_TRUE(ocr.stdoutText.contains(QStringLiteral("[警告] 已替换原有文本文件 E1_L.txt")));

    const auto history = runCli({"history", text(root)}, env);
    EXPECT_EQ(history.exitCode, 0);
    EXPECT_GE(history.stdoutLines().size(), 6) << history.stdoutText.toStdString();
    // Undoing the organize run while the later operations stand is refused, moving nothing.
    const auto early = pictureHashes(root);
    const auto refused = runCli({"organize", "--undo", text(root)}, env);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.stdoutText.contains(QStringLiteral("之后还做过")))
        << refused.stdoutText.toStdString();
    EXPECT_EQ(pictureHashes(root), early);

    int undos = 0;
    for (; undos < 12; ++undos) {
        // Asked from inside the shoot, through a folder renamed since, as often as from the top.
        const fs::path at = undos == 1 && fs::exists(card.parent_path()) ? card.parent_path() : root;
        const auto undo = runCli({"undo", text(at)}, env);
        if (undo.stdoutText.contains(MoveJournal::kNothingToUndo)) break;
        EXPECT_EQ(undo.exitCode, 0) << undo.stdoutText.toStdString();
    }
    EXPECT_EQ(undos, 6); // OCR, the pass, three namings, the organize run
    EXPECT_EQ(pictureHashes(root), before);
}

TEST_F(UndoCommands, AShootWhoseHistoryCannotBeWrittenIsNotTouched) {
    FakeAIServer server;
    TempDir dir;
    Shoot shoot(dir.path(), server);
    shoot.artifact("A.JPG", "2024:05:01 10:00:00");
    shoot.label("L.JPG", "2024:05:01 10:01:00", QStringLiteral("鼎"), QString(), QString());
    const fs::path journals = home / "data" / "Vitrino" / "Journals";
    fs::create_directories(journals);
    Unwritable sealed(journals);
    ASSERT_TRUE(sealed.ok());
    const auto before = snapshot(dir.path());
    for (const QStringList& args :
         {QStringList{"organize", text(dir.path())}, QStringList{"name", text(dir.path())},
          QStringList{"ocr", text(dir / "L.JPG")}}) {
        const auto run = runCli(args + QStringList{"--base-url", server.url()}, env);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.stdoutText.contains(QStringLiteral("[失败] 撤销记录写入失败")))
            << run.stdoutText.toStdString();
    }
    EXPECT_EQ(snapshot(dir.path()), before);
    EXPECT_TRUE(server.requests().empty());
}
