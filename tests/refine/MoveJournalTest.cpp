#include "refine/MoveJournal.h"
#include "support/RefineFixtures.h"

#include "core/Text.h"
#include "organize/AutoOrganizer.h"

#include <gtest/gtest.h>

#include <fstream>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace refinetest;
using fixtures::TempDir;

namespace {

/// Keeps the journals of a test in its own data folder.
struct MoveJournalTest : ::testing::Test {
    TempDir data;
    QByteArray saved = qgetenv("XDG_DATA_HOME");
    MoveJournalTest() { qputenv("XDG_DATA_HOME", QByteArray::fromStdString((data / "data").string())); }
    ~MoveJournalTest() override { qputenv("XDG_DATA_HOME", saved); }
};

/// Moves a file and writes it down, as a run does.
void journaledMove(MoveJournal::Writer& journal, const fs::path& from, const fs::path& to) {
    const auto id = journal.willMove(from, to);
    fs::create_directories(to.parent_path());
    fs::rename(from, to);
    journal.finished(id.value(), true);
}

QString refused(const QString& reason) {
    return "refused: " + reason;
}

void appendText(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::app | std::ios::binary) << text;
}

/// The latest journal's undo: its lines, then "refused: " and the reason when it was refused.
QStringList undoLines(MoveJournal::Kind kind, const fs::path& root) {
    QStringList lines;
    const auto result = MoveJournal::undoLatest(kind, root, collect(lines));
    return result ? lines : lines << refused(result.error().description());
}

} // namespace

TEST_F(MoveJournalTest, KeepsTheNewestTwentyPerShootAndNoneThatRecordedNothing) {
    TempDir dir, other;
    const QDateTime start(QDate(2026, 1, 1), QTime(9, 0));
    std::vector<fs::path> made;
    for (int i = 0; i < 22; ++i) {
        auto writer = MoveJournal::Writer::create(
            i % 2 ? MoveJournal::Kind::refine : MoveJournal::Kind::organize, dir.path(), start.addSecs(i));
        (*writer)->willCreateFolder(dir / "x");
        made.push_back((*writer)->file());
    }
    // A run that recorded nothing leaves no journal behind to hide the older ones.
    MoveJournal::Writer::create(MoveJournal::Kind::refine, dir.path(), start.addSecs(99));
    // Two runs started in the same millisecond both keep their journal.
    auto same1 = MoveJournal::Writer::create(MoveJournal::Kind::refine, other.path(), start);
    auto same2 = MoveJournal::Writer::create(MoveJournal::Kind::refine, other.path(), start);
    EXPECT_NE((*same1)->file(), (*same2)->file());
    EXPECT_EQ(MoveJournal::journalsOf(dir.path()), std::vector<fs::path>(made.begin() + 2, made.end()));
    EXPECT_NE(MoveJournal::directoryFor(dir.path()), MoveJournal::directoryFor(other.path()));
}

TEST_F(MoveJournalTest, AStoppedRunIsUndoneFromWhatIsOnDiskBeforeTheOrganizeRunBeforeIt) {
    TempDir dir, fresh; // fresh: nothing recorded at all
    const auto& root = dir.path();
    const std::string moved = "caf\xe9.JPG"; // Latin-1 bytes, not UTF-8
    writeFolder(root / "B", {{moved, 1, {1}}, {"announced.JPG", 2, {1}}, {"gone.JPG", 3, {1}}});
    writeShot(root, {"a.JPG", 4, {1}});
    const QDateTime start = QDateTime::currentDateTime();
    journaledMove(**MoveJournal::Writer::create(MoveJournal::Kind::organize, root, start.addSecs(-5)),
                  root / "a.JPG", root / "A" / "a.JPG");
    auto before = snapshot(root);
    {
        auto writer = MoveJournal::Writer::create(MoveJournal::Kind::refine, root, start);
        auto& journal = **writer;
        journaledMove(journal, root / "B" / "gone.JPG", root / "A" / "gone.JPG");
        // Killed after the move but before its outcome was written …
        journal.willMove(root / "B" / moved, root / "A" / moved);
        fs::rename(root / "B" / moved, root / "A" / moved);
        // … and one announced that never happened, the kill in the middle of a line.
        journal.willMove(root / "B" / "announced.JPG", root / "A" / "announced.JPG");
        appendText(journal.file(), "{\"op\":\"done\",\"i");
    }
    fs::remove(root / "A" / "gone.JPG"); // deleted by the user since
    // The organize run waits for the refinement after it to be undone.
    EXPECT_EQ(undoLines(MoveJournal::Kind::organize, fresh.path()),
              QStringList{refused(MoveJournal::kNoOrganizeJournal)});
    EXPECT_EQ(undoLines(MoveJournal::Kind::organize, root),
              QStringList{refused(MoveJournal::kRefinedAfterOrganize)});
    EXPECT_EQ(undoLines(MoveJournal::Kind::refine, root),
              (QStringList{QStringLiteral("  [撤销] ") + core::displayName(root / "A" / moved) + " → B/",
                           QStringLiteral("[警告] 撤销跳过（目标已不在）：gone.JPG"),
                           QStringLiteral("撤销结束。恢复 1 个文件，剩余 0 条，错误 1 条。")}));
    before.erase("B/gone.JPG");
    EXPECT_EQ(snapshot(root), before);
    // The dropped record is not tried again.
    EXPECT_EQ(undoLines(MoveJournal::Kind::refine, root),
              QStringList{refused(MoveJournal::kNoRefineJournal)});
    EXPECT_EQ(undoLines(MoveJournal::Kind::organize, root).last(),
              QStringLiteral("撤销结束。恢复 1 个文件，剩余 0 条，错误 0 条。"));
    EXPECT_TRUE(fs::exists(root / "a.JPG"));
}

namespace {

/// Passes every step on to the journal, and kills its own process at step `killAt`: after a move
/// was announced but before it happened, or after it happened but before its outcome was written.
struct KillingObserver : AutoOrganizer::MoveObserver {
    KillingObserver(MoveJournal::Writer& journal, int killAt) : journal(journal), killAt(killAt) {}
    std::optional<qint64> willMove(const fs::path& from, const fs::path& to) override {
        const auto id = journal.willMove(from, to);
        step();
        return id;
    }
    std::optional<qint64> willWrite(const fs::path& file, const QByteArray& bytes) override {
        return journal.willWrite(file, bytes);
    }
    void finished(qint64 id, bool succeeded) override {
        step();
        journal.finished(id, succeeded);
    }
    bool willCreateFolder(const fs::path& folder) override { return journal.willCreateFolder(folder); }
    void step() {
        if (++steps == killAt) ::raise(SIGKILL);
    }
    MoveJournal::Writer& journal;
    int killAt, steps = 0;
};

} // namespace

TEST_F(MoveJournalTest, APassKilledAtAnyStepIsUndoneExactly) {
    // Four exhibits whose first three photos look like the previous exhibit: nine moves, eighteen
    // steps. The pass runs in a child process that kills itself with SIGKILL at one step.
    for (int killAt = 1; killAt <= 19; ++killAt) {
        SCOPED_TRACE(testing::Message() << "killed at step " << killAt);
        TempDir dir;
        const auto& root = dir.path();
        for (int e = 0; e < 4; ++e) {
            const std::string stem = "E" + std::to_string(e);
            std::vector<Shot> shots{{stem + "_L.JPG", e * 10 + 7, {0, 0}}};
            for (int v = 0; v < 6; ++v)
                shots.push_back(
                    {stem + "_" + std::to_string(v) + ".JPG", e * 10 + v, {float(v < 3 ? e : e + 1), 1}});
            writeFolder(root / ("文物" + std::to_string(e + 1)), shots, stem + "_L");
        }
        const auto before = snapshot(root);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto writer = MoveJournal::Writer::create(MoveJournal::Kind::refine, root);
            if (!writer) ::_exit(3);
            KillingObserver observer(**writer, killAt);
            const auto result = FeaturePrintRefiner::refine(root, core::logOnly([](const QString&) {}),
                                                            {fakePrint, &observer});
            ::_exit(result.movedCount == 9 ? 0 : 4);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (killAt <= 18) {
            ASSERT_TRUE(WIFSIGNALED(status));
            // Killed at step 1, the first move was announced but had not happened yet.
            EXPECT_EQ(snapshot(root) == before, killAt == 1);
        } else {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }

        const QStringList lines = undoLines(MoveJournal::Kind::refine, root);
        if (killAt == 1) {
            EXPECT_EQ(lines, QStringList{refused(MoveJournal::kNoRefineJournal)});
        }
        EXPECT_TRUE(snapshot(root) == before) << lines.join('\n').toStdString();
    }
}

TEST_F(MoveJournalTest, RefusesJournalsItCannotTrustAndMovesNothing) {
    TempDir outside;
    fixtures::writeBytes(outside / "x.JPG", "outside photo");
    fs::create_directory(outside / "empty");
    const fs::path out = MoveJournal::folderIdentity(outside.path());
    const std::string hash =
        QCryptographicHash::hash("outside photo", QCryptographicHash::Sha256).toHex().toStdString();
    enum class Refused { unreadable, foreign, outside };
    const struct {
        const char* what;
        std::string text; ///< appended; ROOT and OUT stand for the shoot and the folder beside it
        Refused refused;
        QString reason = {};
        bool replace = false; ///< the text is the whole journal
    } cases[] = {
        {"a broken line", "{\"op\":\"done\"\n{\"op\":\"done\",\"id\":1}\n", Refused::unreadable,
         "第 3 行无法解析"},
        {"something else", "{\"hello\":1}\n", Refused::unreadable, "不是撤销记录", true},
        {"a journal of another folder", R"({"op":"move","id":7,"from":"OUT/A/a.JPG","to":"OUT/B/a.JPG"})",
         Refused::foreign},
        {"a move out", R"({"op":"move","id":7,"from":"ROOT/A/a.JPG","to":"OUT/x.JPG"})", Refused::outside},
        {"a written file",
         R"({"op":"write","id":7,"path":"OUT/x.JPG","sha256":")" + hash + R"(","replaced":false})",
         Refused::outside},
        {"a path up and out", R"({"op":"move","id":7,"from":"ROOT/A/../../x.JPG","to":"ROOT/A/a.JPG"})",
         Refused::outside},
        {"a path through a link", R"({"op":"move","id":7,"from":"ROOT/A/a.JPG","to":"ROOT/link/x.JPG"})",
         Refused::outside},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const fs::path root = MoveJournal::folderIdentity(dir.path());
        writeFolder(root / "A", {{"a.JPG", 1, {1}}});
        fs::create_directory_symlink(outside.path(), root / "link");
        const fs::path owner = c.refused == Refused::foreign ? out : root;
        fs::path file;
        {
            auto writer = MoveJournal::Writer::create(MoveJournal::Kind::organize, owner);
            (*writer)->willCreateFolder(owner / "A");
            file = (*writer)->file();
        }
        if (c.replace) fs::remove(file);
        std::string text = c.text;
        for (const auto& [word, path] : {std::pair{std::string("ROOT"), root}, {std::string("OUT"), out}})
            for (size_t at; (at = text.find(word)) != std::string::npos;)
                text.replace(at, word.size(), path.string());
        if (text.find("\"id\":7") != std::string::npos) text += "\n{\"op\":\"done\",\"id\":7}\n";
        appendText(file, text);
        if (c.refused == Refused::foreign) { // copied here, it still names the other folder
            fs::create_directories(MoveJournal::directoryFor(root));
            fs::copy_file(file, MoveJournal::directoryFor(root) / file.filename());
        }
        const auto inside = snapshot(root), beside = snapshot(outside.path());
        const QStringList lines = undoLines(MoveJournal::Kind::organize, root);
        if (c.refused == Refused::unreadable)
            EXPECT_EQ(lines,
                      QStringList{refused(MoveJournal::kUnreadable.arg(core::displayName(file), c.reason))});
        else if (c.refused == Refused::foreign)
            EXPECT_EQ(lines, QStringList{refused(MoveJournal::kForeign.arg(core::displayPath(out)))});
        else
            EXPECT_TRUE(lines.size() == 1 && lines[0].startsWith(refused("撤销记录指向文件夹之外")))
                << lines[0].toStdString();
        EXPECT_EQ(snapshot(root), inside);
        EXPECT_EQ(snapshot(outside.path()), beside);
        EXPECT_TRUE(fs::is_directory(outside / "empty"));
    }
}

TEST_F(MoveJournalTest, ARunStopsAtOnceWhenItsJournalCannotBeWritten) {
    TempDir dir;
    writeShot(dir.path(), {"a.JPG", 1, {1}});
    writeShot(dir.path(), {"b.JPG", 2, {1}});
    auto full = MoveJournal::Writer::openExisting("/dev/full");
    ASSERT_TRUE(full);
    core::RunContext context = core::logOnly([](const QString&) {});
    (*full)->stopOnFailure(context.cancel);
    QStringList errors;
    const std::vector files{ImageScanner::processImageFile(dir / "a.JPG"),
                            ImageScanner::processImageFile(dir / "b.JPG")};
    const auto result = AutoOrganizer::executeMoves(dir.path(), {{"1 甲", files, std::nullopt, false, false}},
                                                    context, errors, full->get());
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.moved, 0); // nothing moves that the history does not hold
    ASSERT_TRUE((*full)->error());
    EXPECT_TRUE(fs::exists(dir / "a.JPG") && fs::exists(dir / "b.JPG"));
}
