#include "labels/RatingWriter.h"
#include "platform/ExtendedAttributes.h"
#include "services/ProcessingLock.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

struct NameCommand : testing::Test {
    FakeAIServer server;
    TempDir home, hall;
    Shoot shoot{hall.path(), server}; // one for the whole hall: it answers the server by photo

    QProcessEnvironment env() const {
        return isolatedEnvironment(QString::fromStdString(home.path().string()));
    }
    QStringList args(const QStringList& folders, const QStringList& extra = {}) const {
        return QStringList{"name"} + folders +
               QStringList{"--base-url", server.url(), "--model", "m", "--no-prefilter"} + extra;
    }
    QString path(const std::string& name) const { return QString::fromStdString((hall / name).string()); }
    /// An exhibit folder with one object photo and its label card.
    void exhibit(const std::string& folder, const std::string& number, const QString& name) {
        fs::create_directories(hall / folder);
        shoot.artifact(folder + "/IMG_" + number + ".JPG", "2024:05:01 10:00:00");
        shoot.label(folder + "/IMG_9" + number + ".JPG", "2024:05:01 10:01:00", name, QStringLiteral("良渚"),
                    QStringLiteral("良渚文化"));
    }
};

} // namespace

TEST_F(NameCommand, NamesSeveralFoldersInOrderWithinOneFramedJobOnceTheLockIsFree) {
    exhibit("12", "001", QStringLiteral("玉琮"));
    exhibit("13", "002", QStringLiteral("玉璧"));
    fs::create_directories(hall / "empty");
    // Four requests in flight; the second run, one at a time, finds the same names.
    const auto run = runCli(args({path("12"), path("empty"), path("13")}, {"--requests", "4"}), env());
    EXPECT_EQ(run.exitCode, 1) << run.stderrText.toStdString();
    const QStringList lines = unstamped(run.stdoutText);
    ASSERT_GE(lines.size(), 8) << run.stdoutText.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("—— 开始整理 ——"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("日志文件：Vitrino_")));
    const QStringList starts = lines.filter(QRegularExpression(QStringLiteral("^开始处理当前文件夹：")));
    EXPECT_EQ(starts,
              QStringList({"开始处理当前文件夹：" + path("12"), "开始处理当前文件夹：" + path("empty"),
                           "开始处理当前文件夹：" + path("13")}));
    EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^完成。"))),
              QStringList({"完成。错误 0 条。", "完成。错误 0 条。"}));
    EXPECT_TRUE(lines.contains(QStringLiteral("API：m")));
    EXPECT_EQ(lines.mid(lines.size() - 3), QStringList({"[失败] 目录中没有可处理的媒体文件",
                                                        "错误汇总 1 条（详见上方日志）", "—— 整理结束 ——"}));
    EXPECT_TRUE(fs::exists(hall / "12 玉琮 良渚 良渚文化" / "玉琮 良渚 良渚文化 001.JPG"));
    EXPECT_TRUE(fs::exists(hall / "13 玉璧 良渚 良渚文化" / "玉璧 良渚 良渚文化 002.JPG"));
    EXPECT_EQ(platform::attribute(hall / "13 玉璧 良渚 良渚文化" / "IMG_9002.JPG",
                                  RatingWriter::kBalooRatingAttribute),
              QByteArray("2"));

    // An organize of another folder holds the lock while a slow request is under way.
    fs::create_directories(hall / "shoot");
    shoot.failing("shoot/SLOW.JPG", "2024:05:01 10:01:00",
                  {200, FakeAIServer::chat("{}").body, "application/json", 1500});
    QProcess organize;
    organize.setProcessEnvironment(env());
    organize.start(cliPath(), {"organize", path("shoot"), "--base-url", server.url(), "--no-prefilter"});
    ASSERT_TRUE(organize.waitForStarted());
    QThread::msleep(500);
    const auto busy = runCli(args({path("12")}), env());
    EXPECT_EQ(busy.exitCode, 2);
    // The refusal names who holds the lock: here another vitrino-cli.
    EXPECT_EQ(busy.stderrText.trimmed(), ProcessingLock::kBusyForCommandLine);
    ASSERT_TRUE(organize.waitForFinished(60000));

    // Named again, once the lock is free, nothing changes and nothing fails.
    const auto again = runCli(args({path("12 玉琮 良渚 良渚文化")}), env());
    EXPECT_EQ(again.exitCode, 0) << again.stdoutText.toStdString();
    EXPECT_TRUE(
        unstamped(again.stdoutText).contains(QStringLiteral("文件夹名已是目标：12 玉琮 良渚 良渚文化")));
}
