#include "folder/FolderProcessor.h"
#include "labels/RatingWriter.h"
#include "platform/ExtendedAttributes.h"
#include "support/FakeVisionBackend.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>

#include <set>

using namespace fixtures;

namespace {

const auto L = MediaCategory::label;
const auto P = MediaCategory::panel;
const auto U = MediaCategory::unknown;
const RelicLabelExtracted kCong{"玉琮", "良渚", "良渚文化", "高 8 厘米"};

std::set<std::string> names(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out.insert(e.path().filename().string());
    return out;
}

/// The run's own lines without the classification pipeline's per-unit lines ("[i/n] …").
QStringList runLines(const QStringList& lines) {
    return lines.filter(QRegularExpression(QStringLiteral("^(?!\\[\\d+/\\d+\\] )")));
}

QByteArray baloo(const fs::path& file) {
    return platform::attribute(file, RatingWriter::kBalooRatingAttribute).value_or("none");
}

/// A folder of one exhibit, a fake model and a stand-in exiftool.
class FolderRun : public ::testing::Test {
  protected:
    fs::path folder(const std::string& name) {
        fs::create_directories(tmp / "hall" / name);
        return tmp / "hall" / name;
    }
    /// A photo file, shot `minute` minutes into the visit (file time; no EXIF).
    void photo(const fs::path& dir, const std::string& name, int minute = 0) {
        writeBytes(dir / name, "bytes of " + name);
        setModified(dir / name, QDateTime(QDate(2024, 5, 1), QTime(10, minute), Qt::LocalTime));
    }
    /// An exhibit folder: a photo, then a label card that reads as kCong.
    fs::path exhibit(const std::string& name) {
        const fs::path dir = folder(name);
        photo(dir, "IMG_0001.JPG", 1);
        photo(dir, "L.JPG", 2);
        backend.label("L.JPG", kCong);
        return dir;
    }
    FolderProcessor::RunResult run(const fs::path& dir) {
        lines.clear();
        FolderProcessor::RunOptions options;
        options.useVisionPrefilter = false;
        options.model = QStringLiteral("test-model");
        options.rate = [this](int stars, const fs::path& file) {
            return RatingWriter::write(stars, file, tool.searchPath());
        };
        return FolderProcessor::run(
            dir, backend, core::RunContext{[this](const QString& l) { lines << l; }, {}, cancel}, options);
    }

    TempDir tmp;
    StandInExifTool tool{tmp / "bin"};
    FakeVisionBackend backend;
    core::CancelToken cancel;
    QStringList lines;
};

TEST_F(FolderRun, NamesTheFolderItsArtifactsAndRatesEveryFileByRoleAndASecondRunOnlyRenamesSuffixedNames) {
    const fs::path dir = folder("12");
    photo(dir, "IMG_0457.JPG", 1);
    photo(dir, "IMG_0457.CR3", 1);
    photo(dir, "IMG_0458.JPG", 2);
    photo(dir, "IMG_0459.JPG", 3);
    photo(dir, "IMG_0460.JPG", 4);
    photo(dir, "DSC_0457.JPG", 5); // the same camera number as the first artifact
    writeBytes(dir / "IMG_0457.CR3.xmp", "darktable edit");
    writeBytes(dir / ".vitrino-tmp-999999999-2-3", "left by a killed run");
    backend.classifyAs("IMG_0458.JPG", P);
    backend.label("IMG_0459.JPG", kCong);
    backend.classifyAs("IMG_0460.JPG", U);

    const auto result = run(dir);
    EXPECT_TRUE(result.errors.isEmpty()) << result.errors.join("\n").toStdString();
    const fs::path named = tmp / "hall" / "12 玉琮 良渚 良渚文化";
    EXPECT_EQ(result.folder, named);
    EXPECT_EQ(result.renamedCount, 3);
    EXPECT_EQ(runLines(lines), QStringList({"开始处理当前文件夹：" + QString::fromStdString(dir.string()),
                                            "模式：当前文件夹命名 + 全量 AI 三分类",
                                            "API：test-model",
                                            "扫描完成：共 6 个（RAW 1 / JPG 5 / HEIC 0 / 视频 0）",
                                            "识别任务 5 个（有 JPG 则只认 JPG）",
                                            "  写 3 星：IMG_0457.JPG",
                                            "  写 3 星：IMG_0457.CR3",
                                            "  写 2 星：IMG_0458.JPG",
                                            "  写 1 星：IMG_0459.JPG",
                                            "  写 3 星：DSC_0457.JPG",
                                            "分类结果：标签 1 / 展板 1 / 文物 2",
                                            "抽取标签字段：IMG_0459.JPG (1/1)",
                                            "  名称=玉琮 来源=良渚 年代=良渚文化",
                                            "已写入 IMG_0459.json / IMG_0459.txt",
                                            "重命名：IMG_0457.JPG → 玉琮 良渚 良渚文化 0457.JPG",
                                            "重命名：IMG_0457.CR3 → 玉琮 良渚 良渚文化 0457.CR3",
                                            "重命名：DSC_0457.JPG → 玉琮 良渚 良渚文化 0457-2.JPG",
                                            "  收尾确认 标签 1 星：IMG_0459.JPG",
                                            "  收尾确认 展板 2 星：IMG_0458.JPG",
                                            "  收尾确认 文物 3 星：玉琮 良渚 良渚文化 0457.JPG",
                                            "  收尾确认 文物 3 星：玉琮 良渚 良渚文化 0457.CR3",
                                            "  收尾确认 文物 3 星：玉琮 良渚 良渚文化 0457-2.JPG",
                                            "文件夹：12 → 12 玉琮 良渚 良渚文化",
                                            "完成。错误 0 条。"}));
    EXPECT_EQ(names(named),
              (std::set<std::string>{"玉琮 良渚 良渚文化 0457.JPG", "玉琮 良渚 良渚文化 0457.CR3",
                                     "玉琮 良渚 良渚文化 0457.CR3.xmp", "玉琮 良渚 良渚文化 0457-2.JPG",
                                     "IMG_0458.JPG", "IMG_0459.JPG", "IMG_0459.json", "IMG_0459.txt",
                                     "IMG_0460.JPG"}));
    EXPECT_EQ(baloo(named / "玉琮 良渚 良渚文化 0457.CR3"), "6");
    EXPECT_EQ(baloo(named / "IMG_0458.JPG"), "4");
    EXPECT_EQ(baloo(named / "IMG_0459.JPG"), "2");
    EXPECT_EQ(baloo(named / "IMG_0460.JPG"), "none"); // unknown: no stars, name untouched
    EXPECT_EQ(tool.calls().size(), 10u);              // two passes over five files, one process each

    // Run again, only the suffixed name changes: its camera number is now the suffix.
    const auto second = run(named);
    EXPECT_TRUE(second.errors.isEmpty() && second.folder == named) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains("文物文件名已是目标：玉琮 良渚 良渚文化 0457.JPG"));
    EXPECT_TRUE(lines.contains("重命名：玉琮 良渚 良渚文化 0457-2.JPG → 玉琮 良渚 良渚文化 2.JPG"));
    EXPECT_TRUE(lines.contains("文件夹名已是目标：12 玉琮 良渚 良渚文化"));
    const auto third = run(named);
    EXPECT_EQ(third.renamedCount, 0);
    EXPECT_TRUE(lines.contains("文物文件名已是目标：玉琮 良渚 良渚文化 2.JPG"));
}

TEST_F(FolderRun, StopsWithoutALabelOrReadableFieldsAfterRating) {
    for (const bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "label unreadable" : "no label");
        const fs::path dir = folder(unreadable ? "8" : "7");
        photo(dir, "IMG_0001.JPG", 1);
        photo(dir, "L.JPG", 2);
        if (unreadable) backend.script("L.JPG", {L, {}, {}, QStringLiteral("无法解析 API 返回")});
        const QString error = unreadable ? FolderProcessor::kNoLabelFields : FolderProcessor::kNoLabel;
        const auto result = run(dir);
        EXPECT_EQ(result.errors.last(), error);
        EXPECT_EQ(lines.last(), "[失败] " + error);
        EXPECT_FALSE(lines.join('\n').contains("完成。"));
        EXPECT_EQ(result.folder, dir);
        EXPECT_EQ(names(dir), (std::set<std::string>{"IMG_0001.JPG", "L.JPG"}));
        EXPECT_EQ(baloo(dir / "IMG_0001.JPG"), "6"); // ratings written so far stay
    }
}

TEST_F(FolderRun, FurtherCardsMergeOrAreIgnoredAndTheEarliestCardKeepsTheFields) {
    const fs::path dir = folder("3");
    photo(dir, "IMG_0001.JPG", 1);
    photo(dir, "C.JPG", 9); // classified first, shot last
    photo(dir, "A.JPG", 2);
    photo(dir, "B.JPG", 3);
    backend.label("A.JPG", kCong);
    backend.label("B.JPG", {"玉琮", "良渚", "良渚文化", "反山 M12 出土"});
    backend.label("C.JPG", {"玉璧", "良渚", "良渚文化", "另一件"});
    const auto result = run(dir);
    EXPECT_TRUE(result.errors.isEmpty());
    // Read in capture order: C, shot last, disagrees and is ignored.
    const QStringList own = runLines(lines);
    const qsizetype at = own.indexOf("抽取标签字段：A.JPG (1/3)");
    ASSERT_GE(at, 0);
    EXPECT_EQ(own.mid(at + 5, 3),
              QStringList({"抽取标签字段：C.JPG (3/3)", "  名称=玉璧 来源=良渚 年代=良渚文化",
                           "  与首张标签不一致，仍用首张结果命名"}));
    const fs::path named = tmp / "hall" / "3 玉琮 良渚 良渚文化";
    EXPECT_TRUE(fs::exists(named / "A.json"));
    EXPECT_TRUE(QString::fromStdString(readFile(named / "A.txt"))
                    .contains(QStringLiteral("高 8 厘米\n反山 M12 出土")));
}

TEST_F(FolderRun, ABlockingSiblingLeavesTheFolderName) {
    const fs::path dir = exhibit("12");
    fs::create_directories(tmp / "hall" / "12 玉琮 良渚 良渚文化");
    const auto blocked = run(dir);
    EXPECT_EQ(blocked.folder, dir);
    EXPECT_EQ(blocked.errors, QStringList({"目标文件夹已存在：12 玉琮 良渚 良渚文化，未改文件夹名"}));
    EXPECT_TRUE(fs::exists(dir / "玉琮 良渚 良渚文化 0001.JPG")); // the artifacts still got their names
    EXPECT_EQ(lines.last(), QStringLiteral("完成。错误 1 条。"));
}

TEST_F(FolderRun, ACancelledRunStopsBetweenFilesAndSaysSo) {
    const fs::path dir = exhibit("5");
    // Cancelled while the label card is being read: its classification was the first request.
    int requests = 0;
    backend.onRequest([this, &requests](const QString& file) {
        if (file == QLatin1String("L.JPG") && ++requests == 2) cancel.cancel();
    });
    const auto result = run(dir);
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(lines.last(), core::kCancelledLine.arg(0));
    EXPECT_EQ(names(dir), (std::set<std::string>{"IMG_0001.JPG", "L.JPG"}));
}

} // namespace

TEST_F(FolderRun, LinksAreNeverWrittenThrough) {
    TempDir elsewhere;
    writeBytes(elsewhere / "outside.JPG", "a photo that lives elsewhere");
    const fs::path dir = folder("7");
    photo(dir, "IMG_0001.JPG", 1);
    photo(dir, "IMG_0003.JPG", 3);
    fs::create_symlink(elsewhere / "outside.JPG", dir / "IMG_0002.JPG");
    backend.label("IMG_0003.JPG", kCong);
    const auto target = readFile(elsewhere / "outside.JPG");

    const auto result = run(dir);
    const fs::path named = tmp / "hall" / "7 玉琮 良渚 良渚文化";
    ASSERT_EQ(result.folder, named) << lines.join('\n').toStdString();
    // The linked photo is renamed as a link; its target keeps its bytes, name and attributes.
    EXPECT_TRUE(fs::is_symlink(named / "玉琮 良渚 良渚文化 0002.JPG"));
    EXPECT_TRUE(lines.contains(core::skipped(FolderProcessor::kLinkNotRated.arg("IMG_0002.JPG")).shown()));
    EXPECT_EQ(readFile(elsewhere / "outside.JPG"), target);
    EXPECT_EQ(baloo(elsewhere / "outside.JPG"), "none");
    for (const auto& call : tool.calls())
        EXPECT_FALSE(call.last().contains("0002")) << call.join(' ').toStdString();

    // A linked folder is not an exhibit folder: nothing is written inside it.
    fs::create_directory_symlink(elsewhere.path(), tmp / "hall" / "linked");
    const auto linked = run(tmp / "hall" / "linked");
    EXPECT_EQ(linked.errors.size(), 1);
    EXPECT_EQ(names(elsewhere.path()), std::set<std::string>{"outside.JPG"});
}
