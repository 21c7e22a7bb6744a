#include "services/ImageOCRProcessor.h"
#include "support/Fixtures.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace fixtures;
namespace ocr = ImageOCRProcessor;

TEST(ImageOCRProcessor, RepliesAreCleanedAndCountedAsReadersCount) {
    struct Case {
        QString reply, saved;
        int length;
    };
    const Case cases[] = {
        {"  \n第一行\n第二行\n\n", "第一行\n第二行", 7},
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
    EXPECT_EQ(ocr::textFileFor("/a/b.c/x.tar.png"), fs::path("/a/b.c/x.tar.txt"));
}

TEST(ImageOCRProcessor, AFailedSaveIsLoggedWithItsReasonAndLeavesNothingBehind) {
    TempDir dir;
    writeJpeg(dir / "IMG_1.JPG", 16, 16);
    QStringList log;
    // A folder in the way of the text file.
    fs::create_directories(dir / "IMG_1.txt" / "x");
    ASSERT_FALSE(ocr::saveText(dir / "IMG_1.JPG", "字", [&](const QString& line) { log << line; }));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith("[失败] 写入 IMG_1.txt：")) << log[0].toStdString();
    EXPECT_GT(log[0].size(), QString("[失败] 写入 IMG_1.txt：").size());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 2); // IMG_1.JPG, IMG_1.txt/
}
