#include "ai/AIConfig.h"
#include "app/CompactSwitch.h"
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/Widgets.h"
#include "refine/FeaturePrintTools.h"
#include "services/LogStore.h"
#include "services/RefineJob.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

/// Scripted runs: each logs its lines and returns what the test set; a run can be held at a
/// gate so the test sees the window busy.
class ScriptedRuns : public app::WindowRuns {
  public:
    QStringList organizeLines{"[1/2] IMG_1.JPG → 文物", "[2/2] IMG_2.JPG → 标签"};
    QStringList organizeErrors;
    app::RefineOutcome refineResult;
    app::UndoOutcome undoResult;
    bool holdAtGate = false;
    bool lastPrefilter = true;
    int lastRequests = 0;

    void open() { m_open = true; }
    bool waiting() const { return m_waiting; }

    AutoOrganizer::RunResult organize(const services::RunJob& job, const std::filesystem::path&,
                                      bool prefilter, bool, const ai::AISettings& settings) override {
        lastPrefilter = prefilter;
        lastRequests = settings.maxRequestsInFlight;
        say(job.context(), organizeLines, organizeErrors);
        AutoOrganizer::RunResult result;
        result.errors = organizeErrors;
        result.cancelled = job.cancelToken().isCancelled();
        job.summarize(result.errors);
        return result;
    }
    app::RefineOutcome refine(const std::filesystem::path&, const core::RunContext& context) override {
        say(context, {"对比：1 → 2", "  搬回 IMG_3.JPG"}, refineResult.errors);
        if (!refineResult.moves.empty()) history = refineResult.moves;
        return refineResult;
    }
    // The shoot's history, as far as the window can see it: the moves of the last pass.
    bool canUndoRefine(const std::filesystem::path&) const override { return !history.empty(); }
    app::UndoOutcome undoRefine(const std::filesystem::path&, const core::RunContext& context) override {
        context.log(QStringLiteral("待恢复 %1 个文件").arg(history.size()));
        say(context, {"  [撤销] IMG_3.JPG → 1/"}, undoResult.errors);
        history = undoResult.remaining;
        return undoResult;
    }
    bool canUndoOrganize(const std::filesystem::path&) const override { return false; }
    app::UndoOutcome undoOrganize(const std::filesystem::path&, const core::RunContext&) override {
        return {};
    }
    bool canUndoLatest(const std::filesystem::path&) const override { return false; }
    app::UndoOutcome undoLatest(const services::RunJob&, const std::filesystem::path&) override { return {}; }

    std::vector<app::MoveRecord> history;

  private:
    /// Waits at the gate (when held), then logs the lines and the errors as failures.
    void say(const core::RunContext& context, const QStringList& lines, const QStringList& errors) {
        m_waiting = holdAtGate;
        while (holdAtGate && !m_open && !context.cancel.isCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        m_waiting = false;
        m_open = false;
        for (const QString& line : lines)
            context.log(line);
        for (const QString& error : errors)
            context.log(core::failure(error));
    }
    std::atomic<bool> m_open = false;
    std::atomic<bool> m_waiting = false;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings(QStringLiteral("Vitrino"), QStringLiteral("Vitrino"))
            .remove(ai::AIConfig::kUseOfflineEngineKey);
        config.setBaseURL(QStringLiteral("http://127.0.0.1:9/v1/chat/completions"));
        config.setApiKey(QStringLiteral("sk-test"));
        config.setModelID(QStringLiteral("m"));
        lock = std::make_unique<ProcessingLock>(dir.filePath(QStringLiteral("lock")));
        window = std::make_unique<MainWindow>(config, *lock, runs);
        view = window->content();
        view->offlineSwitch()->setChecked(false);
    }
    void TearDown() override {
        runs.open();
        waitIdle();
    }

    void pickFolder() { view->folderPicked(dir.path()); }
    void waitIdle() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isProcessing(); }));
        view->logPump()->flush();
    }
    /// The panel's lines without their stamps.
    QStringList messages() {
        view->logPump()->flush();
        return fixtures::unstamped(view->logModel()->lines());
    }
    QStringList fileMessages() { return fixtures::unstamped(fixtures::readText(view->currentLogFile())); }
    QString logFileLine() { return services::kLogFileLine.arg(QFileInfo(view->currentLogFile()).fileName()); }

    QTemporaryDir dir;
    ai::AIConfig config;
    std::unique_ptr<ProcessingLock> lock;
    ScriptedRuns runs;
    std::unique_ptr<MainWindow> window;
    ContentView* view = nullptr;
};

} // namespace

TEST_F(WindowTest, StartButtonNeedsAFolderCompleteSettingsAndNoFileManagerJob) {
    struct Case {
        const char* name;
        bool folder;
        bool settingsFilled;
        bool offline;
        bool finderHoldsLock;
        bool enabled;
        QString title;
    };
    const std::vector<Case> cases{
        {"no folder", false, true, false, false, false, "开始整理"},
        {"folder, settings empty", true, false, false, false, false, "开始整理"},
        {"folder, settings full", true, true, false, false, true, "开始整理"},
        {"folder, settings empty, offline engine", true, false, true, false, true, "开始整理"},
        {"lock held by the file manager", true, true, false, true, false, "右键处理中…"},
    };
    for (const Case& c : cases) {
        SetUp();
        if (c.folder) pickFolder();
        if (!c.settingsFilled) config.setApiKey(QString());
        view->offlineSwitch()->setChecked(c.offline);
        if (c.finderHoldsLock) {
            ASSERT_TRUE(lock->tryAcquire(ProcessingLock::Owner::finder));
        }
        EXPECT_EQ(view->startButton()->isEnabled(), c.enabled) << c.name;
        EXPECT_EQ(view->startButton()->text(), c.title) << c.name;
        EXPECT_EQ(view->folderButton()->isEnabled(), !c.finderHoldsLock) << c.name;
        EXPECT_EQ(view->prefilterSwitch()->isEnabled(), !c.finderHoldsLock) << c.name;
        EXPECT_EQ(view->spinner()->isVisibleTo(view), c.finderHoldsLock) << c.name;
        lock->release(ProcessingLock::Owner::finder);
    }
}

TEST_F(WindowTest, TypedSettingsAreStoredTheKeyFieldIsMaskedAndTheContentFits) {
    EXPECT_EQ(view->apiKeyField()->echoMode(), QLineEdit::Password);
    view->modelField()->clear();
    QTest::keyClicks(view->modelField(), QStringLiteral("gpt-x"));
    EXPECT_EQ(ai::AIConfig().modelID(), QStringLiteral("gpt-x"));
    // The offline switch is an AI setting, stored at the window's first start and as toggled.
    QSettings(QStringLiteral("Vitrino"), QStringLiteral("Vitrino"))
        .remove(ai::AIConfig::kUseOfflineEngineKey);
    ai::AIConfig firstStart; // the endpoint is configured, the switch never stored
    MainWindow another(firstStart, *lock, runs);
    EXPECT_FALSE(another.content()->offlineSwitch()->isChecked());
    EXPECT_EQ(ai::AIConfig().snapshot().useOfflineEngine, false);
    view->offlineSwitch()->setChecked(true);
    EXPECT_EQ(ai::AIConfig().snapshot().useOfflineEngine, true);
    view->requestsField()->setValue(40);
    EXPECT_EQ(ai::AIConfig().maxRequestsInFlight(), 32);
    // The prefilter's explanation follows its switch; the content fits the window's minimum size.
    EXPECT_EQ(view->prefilterExplanation()->text(), QStringLiteral("本机视觉模型预先处理，可加快处理速度。"));
    view->prefilterSwitch()->setChecked(false);
    EXPECT_EQ(view->prefilterExplanation()->text(), QStringLiteral("每张图片都发送给 AI 处理，速度较慢。"));
    EXPECT_LE(window->minimumSizeHint().height(), window->minimumSize().height());
}

TEST_F(WindowTest, MenuRequestsAreRefusedWithoutAFolderOrWhileBusyAndUndoKeepsWhatCouldNotBeRestored) {
    // No folder: only the refusal line. The File menu only posts the request in the shared state;
    // the window carries it out and clears it. Nothing to undo yet: one line, no frame.
    FeaturePrintTools::shared().setPendingAction(FeaturePrintTools::PendingAction::runPostprocess);
    ASSERT_TRUE(QTest::qWaitFor([&] { return messages() == QStringList{ContentView::kMenuNoFolder}; }));
    EXPECT_EQ(FeaturePrintTools::shared().pendingAction(), FeaturePrintTools::PendingAction::none);
    view->undoFeaturePrintFromMenu();
    pickFolder();
    EXPECT_FALSE(window->undoPostprocessAction()->isEnabled());
    const std::vector<app::MoveRecord> moves{
        {"/s/1/a.jpg", "/s/2/a.jpg"}, {"/s/1/b.jpg", "/s/2/b.jpg"}, {"/s/1/c.jpg", "/s/2/c.jpg"}};
    runs.refineResult.moves = moves;
    view->runFeaturePrintFromMenu();
    waitIdle();
    EXPECT_EQ(messages(), (QStringList{ContentView::kMenuNoFolder, ContentView::kNothingToUndo,
                                       services::refineMenuFrame().opening, logFileLine(), "对比：1 → 2",
                                       "  搬回 IMG_3.JPG", services::refineMenuFrame().closing}))
        << "the menu keeps the earlier lines";

    // While a refinement with a record runs, both commands are refused.
    runs.holdAtGate = true;
    view->runFeaturePrintFromMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs.waiting(); }));
    int before = int(messages().size());
    view->runFeaturePrintFromMenu();
    view->undoFeaturePrintFromMenu();
    view->start();
    EXPECT_EQ(messages().mid(before), (QStringList{ProcessingLock::kBusy, ProcessingLock::kBusy}))
        << "start is the stop button now: it writes nothing";
    runs.open();
    waitIdle();
    EXPECT_TRUE(view->canUndoPostprocess()) << "a refused undo keeps the record";

    // An undo that restores only some files keeps the rest to undo.
    runs.undoResult.restored = 1;
    runs.undoResult.remaining = {moves[1]};
    runs.undoResult.errors = {"撤销失败（原文件夹不存在）：1", "撤销跳过（目标已不在）：c.jpg"};
    before = int(messages().size());
    window->undoPostprocessAction()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs.waiting(); }));
    EXPECT_FALSE(window->undoPostprocessAction()->isEnabled());
    runs.open();
    waitIdle();
    runs.holdAtGate = false;
    EXPECT_EQ(messages().mid(before),
              (QStringList{"—— 撤销上一次后处理 ——", "待恢复 3 个文件", "  [撤销] IMG_3.JPG → 1/",
                           "[失败] 撤销失败（原文件夹不存在）：1", "[失败] 撤销跳过（目标已不在）：c.jpg",
                           "撤销错误 2 条（详见上方日志）", "—— 撤销结束 ——"}));
    ASSERT_EQ(runs.history.size(), 1u);
    EXPECT_EQ(runs.history[0].toPath, std::filesystem::path("/s/2/b.jpg"));
    EXPECT_TRUE(window->undoPostprocessAction()->isEnabled());

    runs.undoResult = {};
    view->undoFeaturePrintFromMenu();
    waitIdle();
    EXPECT_FALSE(window->undoPostprocessAction()->isEnabled());
}

TEST_F(WindowTest, CopyIsOfferedWithLinesTakesLinesOnTheirWayAndASecondStartBeginsANewLogFile) {
    EXPECT_FALSE(view->logPanel()->copyButton()->isEnabled());
    window->show();
    for (int i = 0; i < 500; ++i)
        view->appendLog(QStringLiteral("[%1/500] line").arg(i + 1));
    view->logPump()->flush();
    EXPECT_TRUE(view->logPanel()->copyButton()->isEnabled());
    EXPECT_EQ(view->logPanel()->countBadge()->text(), QStringLiteral("共 500 条"));
    view->appendLog(QStringLiteral("just now"));
    view->logPanel()->copyButton()->click();
    EXPECT_TRUE(QApplication::clipboard()->text().endsWith(QStringLiteral(" just now")))
        << "a line still on its way to the list is copied too";

    QListView* list = view->logPanel()->view();
    window->activateWindow();
    list->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }));
    list->selectionModel()->select(view->logModel()->index(3), QItemSelectionModel::Select);
    list->selectionModel()->select(view->logModel()->index(1), QItemSelectionModel::Select);
    QTest::keySequence(list, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(),
              view->logModel()->line(1) + QLatin1Char('\n') + view->logModel()->line(3));
    // A second start clears the panel and begins a new log file; lines after a run go to its file.
    pickFolder();
    view->start();
    waitIdle();
    const QString first = view->currentLogFile();
    view->logPanel()->copyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringList(view->logModel()->lines().mid(0, 5)).join('\n'));
    EXPECT_EQ(messages().last(), QStringLiteral("已复制全部日志到剪贴板（5 行）"));
    EXPECT_EQ(fileMessages().last(), messages().last()) << "later lines go to the finished run's file";
    view->start();
    waitIdle();
    EXPECT_NE(view->currentLogFile(), first);
    EXPECT_EQ(messages().first(), services::organizeFrame().opening);
    EXPECT_EQ(messages().size(), 5);
}

TEST_F(WindowTest, OptionsAreTakenAtStartTheRunIsFramedWithItsPostprocessingAndEveryLineReachesListAndFile) {
    pickFolder();
    EXPECT_FALSE(window->undoPostprocessAction()->isEnabled());
    view->postprocessSwitch()->setChecked(true);
    runs.organizeErrors = {"a", "b"};
    runs.refineResult.moves = {{"/a/1/IMG_3.JPG", "/a/2/IMG_3.JPG"}};
    runs.refineResult.errors = {"x"};
    for (int i = 0; i < 2000; ++i)
        runs.organizeLines << QStringLiteral("run %1").arg(i);
    runs.holdAtGate = true;
    view->prefilterSwitch()->setChecked(false);
    view->requestsField()->setValue(6);
    view->startButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs.waiting(); }));
    EXPECT_FALSE(view->prefilterSwitch()->isEnabled());
    EXPECT_FALSE(view->requestsField()->isEnabled());
    QTest::mouseClick(view->prefilterSwitch(), Qt::LeftButton);
    EXPECT_FALSE(view->prefilterSwitch()->isChecked());
    EXPECT_EQ(view->startButton()->text(), QStringLiteral("停止"));
    runs.holdAtGate = false;
    runs.open();
    for (int i = 0; i < 200; ++i) {
        view->appendLog(QStringLiteral("window %1").arg(i));
        QCoreApplication::processEvents();
    }
    waitIdle();
    EXPECT_FALSE(runs.lastPrefilter);
    EXPECT_EQ(runs.lastRequests, 6);
    const QStringList shown = messages();
    EXPECT_EQ(fileMessages(), shown);
    EXPECT_EQ(shown.filter(QRegularExpression("^run ")), runs.organizeLines.mid(2));
    EXPECT_EQ(shown.filter(QRegularExpression("^window ")).size(), 200);
    EXPECT_EQ(shown.filter(QRegularExpression("^(?!run |window )")),
              (QStringList{services::organizeFrame().opening, logFileLine(), "[1/2] IMG_1.JPG → 文物",
                           "[2/2] IMG_2.JPG → 标签", "[失败] a", "[失败] b", "错误汇总 2 条（详见上方日志）",
                           "—— 开始 FeaturePrint 后处理 ——", "对比：1 → 2", "  搬回 IMG_3.JPG", "[失败] x",
                           "后处理错误 1 条（详见上方日志）", "—— 整理结束 ——"}));
    EXPECT_EQ(lock->owner(), ProcessingLock::Owner::idle);
    EXPECT_TRUE(window->undoPostprocessAction()->isEnabled());
}
