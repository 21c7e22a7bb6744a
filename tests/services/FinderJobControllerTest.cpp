#include "services/FinderJobController.h"
#include "services/FinderJobRunner.h"
#include "services/LogStore.h"
#include "services/ServiceEntry.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

using namespace fixtures;
using Kind = FinderWorkItem::Kind;
using C = FinderJobController;

namespace {

/// Records the folders it is given. A folder named "rename me" comes back as "1 renamed"; a
/// folder named "err*" fails.
class FakeRunner : public FinderJobRunner {
  public:
    std::mutex mutex;
    std::vector<std::string> calls;

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
        job.log("  扫描 " + name);
        FolderOutcome out{folder, name.startsWith("err") ? QStringList{"一", "二"} : QStringList{}, 2};
        if (name == "rename me") fs::rename(folder, out.folder = folder.parent_path() / "1 renamed");
        return out;
    }
    ImageOutcome readImage(const services::RunJob&, const fs::path&) override { return {}; }
};

} // namespace

TEST(FinderJobController, LinksAmongArgumentsStartABatchANewBatchContinuesItsCountAndNonFoldersFail) {
    TempDir dir, data;
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));
    ProcessingLock lock{QString::fromStdString((dir / "test.lock").string())};
    auto* runner = new FakeRunner; // owned by the controller
    C controller(std::unique_ptr<FinderJobRunner>(runner), lock);
    for (const char* name : {"甲 1", "err b&c", "rename me"})
        fs::create_directories(dir / name);
    writeBytes(dir / "IMG_1.JPG", "x");
    QSignalSpy shown(&controller, &C::windowShown);
    const std::vector<fs::path> first{dir / "甲 1", dir / "err b&c", dir / "IMG_1.JPG", dir / "missing"};
    const QStringList args{"--some-option", ServiceEntry::openURL({Kind::nameFolder, first}),
                           "vitrino://ocr?path=", "https://example.com/?path=/x"};
    EXPECT_EQ(ServiceEntry::dispatch(args, controller), 1);
    EXPECT_FALSE(controller.hasWindow()); // nothing happens before the event loop runs
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.isFinished(); }, 10000));
    EXPECT_EQ(controller.statusText(), "全部完成（4 项）");
    EXPECT_TRUE(controller.windowShouldClose());
    controller.handleIncoming(Kind::nameFolder, {});
    EXPECT_EQ(shown.count(), 1);
    controller.handleIncoming(Kind::nameFolder, {dir / "rename me"});
    EXPECT_EQ(controller.statusText(), "正在处理 5/5");
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.statusText() == "全部完成（5 项）"; }, 10000));
    // Only folders reach the run; a renamed folder is shown with its new path.
    EXPECT_EQ(runner->calls, (std::vector<std::string>{"甲 1", "err b&c", "rename me"}));
    EXPECT_EQ(controller.folderPath(), QString::fromStdString((dir / "1 renamed").string()));
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
    EXPECT_EQ(unstamped(controller.logMessages()),
              QStringList({"—— 开始处理（文件管理器右键，共 4 项）——", "日志文件：" + files[0], engine}) +
                  item("1/4", "甲 1", {"  扫描 甲 1"}) +
                  item("2/4", "err b&c", QStringList{"  扫描 err b&c"} + failed("2/4", {"一", "二"})) +
                  item("3/4", "IMG_1.JPG", failed("3/4", {"不是文件夹：" + file})) +
                  item("4/4", "missing", failed("4/4", {"文件夹不存在：" + gone})) + QStringList{engine} +
                  item("5/5", "rename me", {"  扫描 rename me"}));
    EXPECT_EQ(
        QString::fromStdString(readFile(QDir(LogStore::logsDirectory()).filePath(files[0]).toStdString())),
        controller.logMessages().join('\n') + '\n');
    qputenv("XDG_DATA_HOME", savedData);
}
