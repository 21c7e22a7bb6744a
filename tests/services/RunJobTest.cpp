#include "services/RunJob.h"
#include "services/LogStore.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace fixtures;
using Owner = ProcessingLock::Owner;

TEST(RunJob, FramesTheRunAndReportsErrorsThatWereNotLogged) {
    TempDir dir;
    ProcessingLock lock(QString::fromStdString((dir / "lock").string()));
    QStringList sink;
    const QString moved = QStringLiteral("移动失败 a.jpg：目标已存在：a.jpg"),
                  gone = QStringLiteral("源文件不存在：b.jpg");
    {
        services::RunJob job(
            services::organizeFrame(), Owner::main, [&](const QString& l) { sink << l; }, lock);
        ASSERT_TRUE(job.begin());
        EXPECT_EQ(lock.owner(), Owner::main);
        job.context().log(core::failure(moved));
        job.context().log(core::skipped(gone));
        job.summarize({moved, gone, QStringLiteral("文件夹不存在")});
        // The destructor ends the job: closing line, lock released.
    }
    EXPECT_EQ(lock.owner(), Owner::idle);
    const QStringList lines = unstamped(sink);
    const QString logFile = lines.value(1).mid(5);
    EXPECT_TRUE(logFile.startsWith(QStringLiteral("Vitrino_"))) << logFile.toStdString();
    EXPECT_EQ(lines,
              (QStringList{"—— 开始整理 ——", "日志文件：" + logFile, "[失败] " + moved, "[跳过] " + gone,
                           "[失败] 文件夹不存在", "错误汇总 3 条（详见上方日志）", "—— 整理结束 ——"}));
    // Every line also went to the session's log file.
    EXPECT_EQ(readText(QDir(LogStore::logsDirectory()).filePath(logFile)), sink.join('\n') + '\n');
}

TEST(RunJob, RefusesWhileTheLockIsHeldNamingTheHolderAndWritesNothingAndTheLockIsTakenOnce) {
    TempDir dir;
    const QString path = QString::fromStdString((dir / "lock").string());
    struct Case {
        const char* name;
        Owner owner;
        bool sameProcess;
        QString refusal;
    };
    const Case cases[] = {
        {"file-manager jobs", Owner::finder, true, "另有任务正在处理（文件管理器右键），请稍后再试。"},
        {"file-manager jobs of another process", Owner::finder, false,
         "另有任务正在处理（文件管理器右键），请稍后再试。"},
        {"the main window", Owner::main, false, "另有任务正在处理（主窗口），请稍后再试。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessingLock lock(path);
        ProcessingLock holder(path);
        ProcessingLock& held = c.sameProcess ? lock : holder;
        ASSERT_TRUE(held.tryAcquire(c.owner));
        QStringList sink;
        services::RunJob job(
            services::organizeFrame(), Owner::main, [&](const QString& l) { sink << l; }, lock);
        EXPECT_FALSE(job.begin());
        EXPECT_EQ(job.refusal(), c.refusal);
        job.summarize({QStringLiteral("x")});
        job.end();
        // A frame with a refusal of its own keeps it.
        services::RunJob menu({"a", "b", ProcessingLock::kBusy, false}, Owner::main, {}, lock);
        EXPECT_FALSE(menu.begin());
        EXPECT_EQ(menu.refusal(), ProcessingLock::kBusy);
        EXPECT_TRUE(sink.isEmpty());
        EXPECT_EQ(held.owner(), c.owner); // never released by a job that did not take it
        held.release(c.owner);
        EXPECT_EQ(lock.holder(), ProcessingLock::Holder::nobody);
    }
    // A holder record that another process left is not believed.
    ProcessingLock holder(path), lock(path);
    ASSERT_TRUE(holder.tryAcquire(Owner::finder));
    writeBytes((path + ".holder").toStdString(), "1\nfinder\n");
    EXPECT_EQ(lock.holder(), ProcessingLock::Holder::unknown);
    // Held in this process, the lock is not taken a second time, even once its file has gone.
    fs::remove(path.toStdString());
    EXPECT_FALSE(holder.tryAcquire(Owner::main));
    EXPECT_EQ(holder.owner(), Owner::finder);
    holder.release(Owner::finder);
}
