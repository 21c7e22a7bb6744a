#include "services/LogStore.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

struct LogStoreTest : testing::Test {
    TempDir data;
    QByteArray saved = qgetenv("XDG_DATA_HOME");
    void SetUp() override {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));
        LogStore::logsDirectory();
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", saved); }
    fs::path logs() const { return data / "Vitrino" / "Logs"; }
    void file(const std::string& name, int minutesAgo) {
        writeBytes(logs() / name, name);
        setModified(logs() / name, QDateTime::currentDateTime().addSecs(-60 * minutesAgo));
    }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(logs()))
            out.insert(e.path().filename().string());
        return out;
    }
};

} // namespace

TEST_F(LogStoreTest, KeepsTheFiveNewestLogFilesOnlyInTheDataOrTheTemporaryFolder) {
    EXPECT_EQ(LogStore::logsDirectory(), QString::fromStdString(logs().string()));
    for (int i = 0; i < 8; ++i)
        file("Vitrino_" + std::to_string(i) + ".log", i);
    file("UPPER.LOG", 100);
    file("notes.txt", 200);
    file("log", 300);
    file(".hidden.log", 400);
    LogStore::pruneOldLogs();
    EXPECT_EQ(names(),
              (std::set<std::string>{"Vitrino_0.log", "Vitrino_1.log", "Vitrino_2.log", "Vitrino_3.log",
                                     "Vitrino_4.log", "notes.txt", "log", ".hidden.log"}));
    LogStore::pruneOldLogs();
    EXPECT_EQ(names().size(), 8u);
    // Without a data folder, the temporary folder.
    qputenv("XDG_DATA_HOME", "/proc/no-such-place");
    EXPECT_EQ(LogStore::logsDirectory(), QDir(QDir::tempPath()).filePath(QStringLiteral("Vitrino/Logs")));
    EXPECT_TRUE(QFileInfo(LogStore::logsDirectory()).isDir());
}

TEST_F(LogStoreTest, SessionsAppendAndNeverEmptyAnEarlierFile) {
    for (int i = 0; i < 5; ++i)
        file("Vitrino_old" + std::to_string(i) + ".log", 10 + i);
    const QDateTime now(QDate(2025, 3, 14), QTime(9, 30, 7), Qt::LocalTime);
    const QString first = LogStore::beginSession(now);
    EXPECT_TRUE(first.endsWith(QStringLiteral("/Vitrino_20250314_093007.log")));
    EXPECT_EQ(names().size(), 6u); // pruned before creating
    LogStore::append(QStringLiteral("abc"), first);
    EXPECT_EQ(readFile(first.toStdString()), "abc\n");
    LogStore::append(QStringLiteral("第二行"), first);
    EXPECT_EQ(readFile(first.toStdString()), "abc\n第二行\n");

    const QString second = LogStore::beginSession(now);
    EXPECT_TRUE(second.endsWith(QStringLiteral("/Vitrino_20250314_093007-2.log")));
    EXPECT_EQ(readFile(first.toStdString()), "abc\n第二行\n");

    fs::remove(second.toStdString());
    LogStore::append(QStringLiteral("again"), second);
    EXPECT_EQ(readFile(second.toStdString()), "again\n");
    EXPECT_EQ(LogStore::stamped(QStringLiteral("—— 开始整理 ——"), QTime(9, 5, 3)),
              QStringLiteral("09:05:03 —— 开始整理 ——"));
}
