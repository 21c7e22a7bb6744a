#include "services/RunJob.h"
#include "services/Engine.h"
#include "services/OrganizeJob.h"
#include "support/FakeVisionBackend.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace fixtures;
using Owner = ProcessingLock::Owner;

namespace {

std::string read(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(RunJob, FramesTheRunAndReportsErrorsThatWereNotLogged) {
    TempDir dir;
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((dir / "data").string()));
    ProcessingLock lock(QString::fromStdString((dir / "lock").string()));
    QStringList sink;
    {
        services::RunJob job(
            services::organizeFrame(), Owner::main, [&](const QString& l) { sink << l; }, lock);
        ASSERT_TRUE(job.begin());
        EXPECT_EQ(lock.owner(), Owner::main);
        const core::RunContext context = job.context();
        context.log(QStringLiteral("[失败] 移动失败 a.jpg：目标已存在：a.jpg"));
        context.log(QStringLiteral("[跳过] 源文件不存在：b.jpg"));
        job.summarize({QStringLiteral("移动失败 a.jpg：目标已存在：a.jpg"),
                       QStringLiteral("源文件不存在：b.jpg"), QStringLiteral("文件夹不存在")});
        // The destructor ends the job: closing line, lock released.
    }
    EXPECT_EQ(lock.owner(), Owner::idle);
    const QStringList lines = unstamped(sink);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], QStringLiteral("—— 开始整理 ——"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("日志文件：Vitrino_")));
    EXPECT_EQ(lines.mid(4),
              QStringList({"[失败] 文件夹不存在", "错误汇总 3 条（详见上方日志）", "—— 整理结束 ——"}));
    // Every line also went to the session's log file.
    const QString logFile =
        QString::fromStdString((dir / "data" / "Vitrino" / "Logs").string()) + "/" + lines[1].mid(5);
    EXPECT_EQ(QString::fromStdString(read(logFile)), sink.join('\n') + '\n');
    qunsetenv("XDG_DATA_HOME");
}

TEST(RunJob, RefusesWhileTheLockIsHeldAndWritesNothing) {
    TempDir dir;
    ProcessingLock lock(QString::fromStdString((dir / "lock").string()));
    ASSERT_TRUE(lock.tryAcquire(Owner::finder));
    QStringList sink;
    services::RunJob job(
        services::organizeFrame(), Owner::main, [&](const QString& l) { sink << l; }, lock);
    EXPECT_FALSE(job.begin());
    EXPECT_EQ(job.frame().busyMessage, QStringLiteral("另有任务正在处理（文件管理器右键），请稍后再试。"));
    job.summarize({QStringLiteral("x")});
    job.end();
    EXPECT_TRUE(sink.isEmpty());
    EXPECT_EQ(lock.owner(), Owner::finder); // never released by a job that did not take it
    lock.release(Owner::finder);
}

TEST(Engine, OnePlaceChoosesTheBackend) {
    const ai::AISettings configured{"https://example.test/v1/chat/completions", "k", "m"};
    const ai::AISettings empty{"https://example.test/v1/chat/completions", "", "m"};
    struct Case {
        const char* name;
        ai::AISettings settings;
        services::EngineChoice choice;
        bool urlGiven;
        std::optional<bool> local; // absent: refused
        QString text;              // the notice, or the error
    };
    using C = services::EngineChoice;
    const std::vector<Case> cases = {
        {"configured", configured, C::automatic, false, false, ""},
        {"nothing configured", empty, C::automatic, false, true,
         "未配置 AI 接口，使用本机离线引擎（不上传照片）"},
        {"a base URL but no key", empty, C::automatic, true, std::nullopt,
         "请先填写 API Base URL、Key 与 Model"},
        {"remote insisted on", empty, C::remote, false, std::nullopt, "请先填写 API Base URL、Key 与 Model"},
        {"local chosen", configured, C::local, false, true, "使用本机离线引擎（不上传照片）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto engine = services::selectEngine(c.settings, c.choice, c.urlGiven);
        ASSERT_EQ(engine.ok(), c.local.has_value());
        if (!engine.ok()) {
            EXPECT_EQ(engine.error().description(), c.text);
            continue;
        }
        EXPECT_EQ(engine->isLocal, *c.local);
        EXPECT_EQ(engine->notice, c.text);
        EXPECT_NE(engine->backend, nullptr);
    }
    EXPECT_EQ(services::engineChoiceFromName("remote"), C::remote);
    EXPECT_EQ(services::engineChoiceFromName("offline"), std::nullopt);
}

TEST(OrganizeJob, ShowsTheNoticeAndTheRunsLinesInOrder) {
    TempDir dir, data;
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));
    writeJpeg(dir / "a.jpg", 64, 48);
    ProcessingLock lock(QString::fromStdString((data / "lock").string()));
    QStringList sink;
    auto fake = std::make_unique<FakeVisionBackend>();
    services::Engine engine{std::move(fake), QStringLiteral("使用本机离线引擎（不上传照片）"), true};
    services::RunJob job(
        services::organizeFrame(), Owner::main, [&](const QString& l) { sink << l; }, lock);
    ASSERT_TRUE(job.begin());
    AutoOrganizer::RunOptions options;
    options.useVisionPrefilter = false;
    const auto result = services::organize(job, engine, dir.path(), options);
    job.end();
    EXPECT_TRUE(result.errors.isEmpty());
    const QStringList lines = unstamped(sink);
    EXPECT_EQ(lines[2], QStringLiteral("使用本机离线引擎（不上传照片）"));
    EXPECT_EQ(lines[3],
              QStringLiteral("开始扫描：") + QString::fromStdString(dir.path().filename().string()));
    EXPECT_EQ(lines.mid(lines.size() - 2),
              QStringList({"全部完成。移动 1 个文件，错误 0 条。", "—— 整理结束 ——"}));
    EXPECT_TRUE(fs::exists(dir / "1 其他" / "a.jpg"));
    qunsetenv("XDG_DATA_HOME");
}
