#include "folder/FolderProcessor.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace fixtures;

namespace {

const QString kTitle = QStringLiteral("玉琮 良渚 良渚文化");

struct Lines {
    QStringList lines, errors;
    core::Log log() {
        return [this](const QString& l) { lines << l; };
    }
    core::RunContext context() { return core::logOnly(log()); }
};

TEST(FolderSteps, AFileThatCouldNotMoveKeepsItsNameReserved) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can make a file that cannot be renamed (immutable flag)";
    TempDir dir;
    const auto& d = dir.path();
    for (const char* n : {"玉琮 良渚 良渚文化 0001.JPG", "玉琮 良渚 良渚文化 0001-2.JPG", "C_0001.JPG"})
        writeBytes(d / n, n);
    const Unwritable stuck(d / "玉琮 良渚 良渚文化 0001-2.JPG");
    ASSERT_TRUE(stuck.ok());
    Lines out;
    FolderProcessor::renameArtifacts(
        d, kTitle, {d / "玉琮 良渚 良渚文化 0001.JPG", d / "玉琮 良渚 良渚文化 0001-2.JPG", d / "C_0001.JPG"},
        out.context(), out.errors);
    ASSERT_EQ(out.errors.size(), 1);
    EXPECT_TRUE(out.errors[0].startsWith(QStringLiteral("重命名失败 玉琮 良渚 良渚文化 0001-2.JPG：")));
    EXPECT_EQ(out.lines.last(), QStringLiteral("重命名：C_0001.JPG → 玉琮 良渚 良渚文化 0001-3.JPG"));
}

TEST(FolderSteps, AStarRatingThatCannotBeWrittenIsAWarningAndCounted) {
    // The run's own test sees the stars written; here the stand-in for exiftool fails on the RAW.
    TempDir dir;
    const auto& d = dir.path();
    for (const char* n : {"L.JPG", "A.JPG", "A.CR3"})
        writeBytes(d / n, n);
    const QString failed = QStringLiteral("exiftool 退出码 1；写入桌面搜索星级失败 (-1)");
    const FolderProcessor::RateFile rate = [&](int, const fs::path& f) -> std::optional<QString> {
        if (f.extension() == ".CR3") return failed;
        return std::nullopt;
    };
    Lines out;
    EXPECT_TRUE(FolderProcessor::restampStars({{d / "L.JPG"}, {d / "gone.JPG"}, {d / "A.JPG", d / "A.CR3"}},
                                              rate, out.context(), out.errors));
    EXPECT_EQ(out.lines, QStringList({"  收尾确认 标签 1 星：L.JPG", "  收尾确认 文物 3 星：A.JPG",
                                      "[警告] 收尾写3星失败 A.CR3：" + failed}));
    EXPECT_EQ(out.errors, QStringList({"收尾写3星失败 A.CR3：" + failed}));

    Lines first;
    FolderProcessor::rateFile(3, d / "A.CR3", rate, first.log(), first.errors);
    EXPECT_EQ(first.lines, QStringList({"[警告] 写星级失败 A.CR3：" + failed}));
}

TEST(FolderSteps, LabelFieldsThatCannotBeSavedAreAFailure) {
    TempDir dir;
    const Unwritable locked(dir.path());
    if (!locked.ok()) GTEST_SKIP() << "cannot make a folder unwritable here";
    Lines out;
    FolderProcessor::saveLabelFiles(dir.path(), "L", {"玉琮", "", "", ""}, out.log(), out.errors);
    ASSERT_EQ(out.errors.size(), 1);
    EXPECT_TRUE(out.errors[0].startsWith(QStringLiteral("写入 json/txt 失败：")));
    EXPECT_GT(out.errors[0].size(), QStringLiteral("写入 json/txt 失败：").size());
    EXPECT_EQ(out.lines, QStringList({"[失败] " + out.errors[0]}));
}

} // namespace
