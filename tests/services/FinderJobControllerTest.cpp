#include "services/FinderJobController.h"
#include "services/FinderJobRunner.h"
#include "services/LogStore.h"
#include "services/ServiceEntry.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace fixtures;
using Kind = FinderWorkItem::Kind;
using Owner = ProcessingLock::Owner;
using C = FinderJobController;

namespace {

/// Records the items it is given; each item waits for a permit while `gated`. A folder named
/// "rename me" comes back as "1 renamed"; a folder named "err*" fails.
class FakeRunner : public FinderJobRunner {
  public:
    QSemaphore permits;
    bool gated = false;
    std::mutex mutex;
    std::vector<std::string> calls;
    std::atomic<int> started{0};

    /// Picks its "engine" when a batch starts, on the interface thread.
    void beginBatch(const services::RunJob& job) override {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        job.log(QStringLiteral("使用本机离线引擎（不上传照片）"));
    }

    FolderOutcome nameFolder(const services::RunJob& job, const fs::path& folder) override {
        const QString name = QString::fromStdString(folder.filename().string());
        {
            std::lock_guard g(mutex);
            calls.push_back(name.toStdString());
        }
        ++started;
        if (gated) permits.acquire();
        job.log("  扫描 " + name);
        FolderOutcome out{folder, name.startsWith("err") ? QStringList{"一", "二"} : QStringList{}, 2};
        if (name == "rename me") fs::rename(folder, out.folder = folder.parent_path() / "1 renamed");
        return out;
    }
    ImageOutcome readImage(const services::RunJob&, const fs::path&) override { return {}; }
};

struct FinderJobControllerTest : testing::Test {
    TempDir dir, data;
    QByteArray savedData = qgetenv("XDG_DATA_HOME");
    ProcessingLock lock{QString::fromStdString((dir / "test.lock").string())};
    FakeRunner* runner = new FakeRunner; // owned by the controller
    std::unique_ptr<C> controller = std::make_unique<C>(std::unique_ptr<FinderJobRunner>(runner), lock);

    void SetUp() override { qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string())); }
    void TearDown() override {
        runner->gated = false;
        runner->permits.release(100);
        controller.reset();
        qputenv("XDG_DATA_HOME", savedData);
    }
    std::vector<fs::path> folders(std::initializer_list<const char*> names) {
        std::vector<fs::path> out;
        for (const char* n : names) {
            fs::create_directories(dir / n);
            out.push_back(dir / n);
        }
        return out;
    }
    QStringList lines() const { return unstamped(controller->logMessages()); }
    bool waitFinished() {
        return QTest::qWaitFor([&] { return controller->isFinished(); }, 10000);
    }
};

} // namespace

TEST_F(FinderJobControllerTest, LinksAmongArgumentsStartABatchANewBatchContinuesItsCountAndNonFoldersFail) {
    writeBytes(dir / "IMG_1.JPG", "x");
    QSignalSpy shown(controller.get(), &C::windowShown);
    auto first = folders({"甲 1", "err b&c"});
    first.insert(first.end(), {dir / "IMG_1.JPG", dir / "missing"});
    const QStringList args{"--some-option", ServiceEntry::openURL({Kind::nameFolder, first}),
                           "vitrino://ocr?path=", "https://example.com/?path=/x"};
    EXPECT_EQ(ServiceEntry::dispatch(args, *controller), 1);
    EXPECT_FALSE(controller->hasWindow()); // nothing happens before the event loop runs
    ASSERT_TRUE(waitFinished());
    EXPECT_EQ(controller->statusText(), "全部完成（4 项）");
    EXPECT_TRUE(controller->windowShouldClose());
    controller->handleIncoming(Kind::nameFolder, {});
    EXPECT_EQ(shown.count(), 1);
    controller->handleIncoming(Kind::nameFolder, folders({"rename me"}));
    EXPECT_EQ(controller->statusText(), "正在处理 5/5");
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->statusText() == "全部完成（5 项）"; }, 10000));
    // Only folders reach the run; a renamed folder is shown with its new path.
    EXPECT_EQ(runner->calls, (std::vector<std::string>{"甲 1", "err b&c", "rename me"}));
    EXPECT_EQ(controller->folderPath(), QString::fromStdString((dir / "1 renamed").string()));
    // Each batch says which engine it uses; the window session writes one log file of its lines.
    const QStringList files = QDir(LogStore::logsDirectory()).entryList({"*.log"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const auto item = [&](const QString& at, const QString& name, const QStringList& body) {
        const QString path = QString::fromStdString((dir / name.toStdString()).string());
        return QStringList{"—— [" + at + "] " + name + " ——", "文件夹：" + path} + body +
               QStringList{"—— [" + at + "] 结束 ——"};
    };
    const auto failed = [](const QString& at, const QStringList& errors) {
        QStringList out;
        for (const QString& e : errors)
            out << "[失败] " + e;
        return out << QStringLiteral("[%1] 错误 %2 条（详见上方日志）").arg(at).arg(errors.size());
    };
    const QString engine = QStringLiteral("使用本机离线引擎（不上传照片）");
    const QString file = QString::fromStdString((dir / "IMG_1.JPG").string()),
                  gone = QString::fromStdString((dir / "missing").string());
    EXPECT_EQ(lines(),
              QStringList({"—— 开始处理（文件管理器右键，共 4 项）——", "日志文件：" + files[0], engine}) +
                  item("1/4", "甲 1", {"  扫描 甲 1"}) +
                  item("2/4", "err b&c", QStringList{"  扫描 err b&c"} + failed("2/4", {"一", "二"})) +
                  item("3/4", "IMG_1.JPG", failed("3/4", {"不是文件夹：" + file})) +
                  item("4/4", "missing", failed("4/4", {"文件夹不存在：" + gone})) + QStringList{engine} +
                  item("5/5", "rename me", {"  扫描 rename me"}));
    QFile log(QDir(LogStore::logsDirectory()).filePath(files[0]));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(log.readAll()), controller->logMessages().join('\n') + '\n');
}
