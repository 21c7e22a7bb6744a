#include "services/ImageOCRProcessor.h"
#include "support/Fixtures.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <fstream>

using namespace fixtures;
namespace ocr = ImageOCRProcessor;

namespace {

struct Resolved {
    std::vector<std::string> names;
    QStringList log;
};

Resolved resolve(const std::vector<fs::path>& selection) {
    Resolved out;
    for (const fs::path& p : ocr::resolveImages(selection, [&](const QString& line) { out.log << line; }))
        out.names.push_back(p.filename().string());
    return out;
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Dates taken(const char* when) {
    return Dates{std::string(when), std::nullopt};
}

} // namespace

TEST(ImageOCRProcessor, ReadsARawThroughTheJpegBesideItAndAFolderInCaptureOrder) {
    TempDir dir;
    writeDng(dir / "IMG_5.CR3", 64, 48);
    writeJpeg(dir / "IMG_5.JPG", 64, 48);
    writeDng(dir / "IMG_6.CR3", 64, 48);

    Resolved alone = resolve({dir / "IMG_5.CR3"});
    EXPECT_EQ(alone.names, std::vector<std::string>{"IMG_5.JPG"});
    EXPECT_EQ(alone.log, QStringList{"同名有 JPG，改 OCR：IMG_5.JPG"});

    // Selected together (in either order, even twice), the JPEG is read once.
    EXPECT_EQ(resolve({dir / "IMG_5.JPG", dir / "IMG_5.CR3", dir / "./IMG_5.JPG"}).names,
              std::vector<std::string>{"IMG_5.JPG"});

    // A RAW without a JPEG is read itself.
    EXPECT_EQ(resolve({dir / "IMG_6.CR3"}).names, std::vector<std::string>{"IMG_6.CR3"});

    // A folder gives its own photos in capture order.
    const fs::path folder = dir / "展墙 A";
    fs::create_directories(folder / "sub");
    writeJpeg(folder / "c.jpg", 32, 32, taken("2024:05:01 10:00:03"));
    writeJpeg(folder / "a.jpg", 32, 32, taken("2024:05:01 10:00:02"));
    writePng(folder / "b.png", 32, 32);
    setModified(folder / "b.png", QDateTime(QDate(2024, 5, 1), QTime(10, 0, 1)));
    writeBytes(folder / "clip.mov", "not really a movie");
    writeJpeg(folder / "sub" / "deep.jpg", 32, 32);
    writeBytes(dir / "notes.pdf", "%PDF");
    writeBytes(dir / "clip.mp4", "video");

    Resolved got =
        resolve({folder, dir / "notes.pdf", dir / "clip.mp4", dir / "missing.jpg", folder / "a.jpg"});
    // b.png has no EXIF; its file date puts it first.
    EXPECT_EQ(got.names, (std::vector<std::string>{"b.png", "a.jpg", "c.jpg"}));
    EXPECT_EQ(got.log, QStringList{"展墙 A：当前层 3 张图片（已忽略子目录和视频）"});

    // The same folder named with a trailing slash reads the same way.
    EXPECT_EQ(resolve({fs::path(folder.string() + "/")}).log, got.log);
}

TEST(ImageOCRProcessor, RepliesAreCleanedAndCountedAsReadersCount) {
    struct Case {
        QString reply, saved;
        int length;
    };
    const Case cases[] = {
        {"  \n第一行\n第二行\n\n", "第一行\n第二行", 7},
        {"```\n展品说明\n```", "展品说明", 4},
        {"```text\n青铜鼎\n```\n", "text\n青铜鼎", 8},
        {"前言 ```code``` 后记", "前言 ```code``` 后记", 16},
        {"   ```   ", "", 0},
        {QString::fromUtf8("e\xcc\x81t\xc3\xa9"), QString::fromUtf8("e\xcc\x81t\xc3\xa9"), 3}, // e + accent
        {QString::fromUtf8("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x8e\xa8 \xf0\x9f\x8f\xba"),   // ZWJ sequence
         QString::fromUtf8("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x8e\xa8 \xf0\x9f\x8f\xba"),
         3}, // and an amphora
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.toStdString());
        const QString saved = ocr::cleanReply(c.reply);
        EXPECT_EQ(saved, c.saved);
        EXPECT_EQ(ocr::perceivedLength(saved), c.length);
    }
    EXPECT_EQ(ocr::textFileFor("/a/IMG_1.JPG"), fs::path("/a/IMG_1.txt"));
    EXPECT_EQ(ocr::textFileFor("/a/b.c/x.tar.png"), fs::path("/a/b.c/x.tar.txt"));
}

TEST(ImageOCRProcessor, SavedTextReplacesTheEarlierFileAndEveryFailureIsLogged) {
    TempDir dir;
    writeJpeg(dir / "IMG_1.JPG", 16, 16);
    QStringList log;
    const core::Log collect = [&](const QString& line) { log << line; };
    ASSERT_TRUE(ocr::saveText(dir / "IMG_1.JPG", "```\n第一次\n```", collect));
    auto second = ocr::saveText(dir / "IMG_1.JPG", "第二次 é", collect);
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, dir / "IMG_1.txt");
    EXPECT_EQ(readAll(dir / "IMG_1.txt"), "第二次 é");
    EXPECT_EQ(log, (QStringList{"已写入 IMG_1.txt（3 字）", "已写入 IMG_1.txt（5 字）"}));

    // A folder in the way of the text file: the reason is logged, nothing else is left behind.
    fs::create_directories(dir / "IMG_2.txt" / "x");
    log.clear();
    auto failed = ocr::saveText(dir / "IMG_2.JPG", "字", collect);
    ASSERT_FALSE(failed);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith("[失败] 写入 IMG_2.txt：")) << log[0].toStdString();
    EXPECT_GT(log[0].size(), QString("[失败] 写入 IMG_2.txt：").size());
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 3); // IMG_1.JPG, IMG_1.txt, IMG_2.txt/
}
