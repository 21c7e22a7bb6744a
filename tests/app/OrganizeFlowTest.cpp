// The window with the real organize run on a generated shoot, the vision model played by a
// scripted backend: a whole run, and a run stopped midway.

#include "Wait.h"
#include "ai/AIConfig.h"
#include "app/CompactSwitch.h"
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/PlanPreview.h"
#include "app/ServiceRuns.h"
#include "app/Theme.h"
#include "refine/FeaturePrintTools.h"
#include "services/RefineJob.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

class OrganizeFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shoot.panel("IMG_0001.JPG", "2025:03:14 09:00:00");
        for (int i = 2; i <= 4; ++i)
            shoot.artifact(name(i), QStringLiteral("2025:03:14 09:0%1:00").arg(i));
        shoot.label("IMG_0005.JPG", "2025:03:14 09:05:00", "青铜鼎", "湖北省博物馆藏", "商代晚期");
        for (int i = 6; i <= 8; ++i)
            shoot.artifact(name(i), QStringLiteral("2025:03:14 09:0%1:00").arg(i));
        shoot.label("IMG_0009.JPG", "2025:03:14 09:09:00", "玉琮", "浙江省博物馆藏", "良渚文化");
        config.setApiKey(QString());
        window = std::make_unique<MainWindow>(config, *lock, runs);
        view = window->content();
        view->offlineSwitch()->setChecked(true);
        view->prefilterSwitch()->setChecked(false);
        view->folderPicked(QString::fromStdString(shoot.dir().string()));
    }
    static std::string name(int i) {
        return QStringLiteral("IMG_%1.JPG").arg(i, 4, 10, QLatin1Char('0')).toStdString();
    }
    QStringList messages() {
        view->logPump()->flush();
        return unstamped(view->logModel()->lines());
    }
    void runToEnd() {
        ASSERT_TRUE(view->startButton()->isEnabled()) << "offline: no endpoint needed";
        view->startButton()->click();
        ASSERT_TRUE(waitUntil([&] { return !view->isProcessing(); }, 60000));
    }
    TempDir dir;
    FakeAIServer server;
    bool made = std::filesystem::create_directories(dir.path() / "shoot");
    Shoot shoot{dir.path() / "shoot", server};
    ai::AIConfig config;
    std::unique_ptr<ProcessingLock> lock =
        std::make_unique<ProcessingLock>(QString::fromStdString((dir / "lock").string()));
    app::ServiceRuns runs{[this](const ai::AISettings&, bool offline) -> core::Result<services::Engine> {
        EXPECT_TRUE(offline);
        return services::Engine{std::make_unique<ai::BorrowedBackend>(shoot.backend()), QString(), true};
    }};
    std::unique_ptr<MainWindow> window;
    ContentView* view = nullptr;
};

} // namespace

TEST_F(OrganizeFlowTest, WholeRunMovesTheShootInsideItsFrameAndTheMenuUndoesIt) {
    const auto tree = treeHashes(shoot.dir());
    EXPECT_FALSE(view->canUndoOrganize());
    runToEnd();
    QStringList lines = messages();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("—— 开始整理 ——"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("日志文件：Vitrino_")));
    EXPECT_EQ(lines.last(), QStringLiteral("—— 整理结束 ——"));
    EXPECT_FALSE(lines.join('\n').contains(QStringLiteral("错误汇总")));
    EXPECT_TRUE(std::filesystem::exists(shoot.dir() / "0 展板" / "IMG_0001.JPG"));
    EXPECT_FALSE(std::filesystem::exists(shoot.dir() / "IMG_0002.JPG")) << "moved into its exhibit";
    std::multiset<QByteArray> after;
    for (const auto& [path, hash] : treeHashes(shoot.dir()))
        after.insert(hash);
    for (const auto& [name, hash] : shoot.originals())
        EXPECT_EQ(after.count(hash), 1u) << name << ": every photograph once, unchanged";
    EXPECT_EQ(lock->owner(), ProcessingLock::Owner::idle);

    ASSERT_TRUE(view->canUndoOrganize()) << "the run left a journal";
    EXPECT_TRUE(window->undoLatestAction()->isEnabled());
    view->undoOrganizeFromMenu();
    ASSERT_TRUE(waitUntil([&] { return !view->isProcessing(); }, 60000));
    EXPECT_EQ(treeHashes(shoot.dir()), tree) << "every file back under its old name, label files gone";
    lines = messages();
    EXPECT_EQ(lines.last(), QStringLiteral("—— 撤销结束 ——")) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.join('\n').contains(QStringLiteral("撤销失败")));
    EXPECT_FALSE(view->canUndoOrganize());
    EXPECT_EQ(lock->owner(), ProcessingLock::Owner::idle);
}

TEST_F(OrganizeFlowTest, PlanPreviewModelEditsRenameTheRowAtOnceAndMovesTakeCompanions) {
    plan::Plan made;
    made.folder = "/shoot";
    made.groups = {
        {plan::GroupKind::panel, "0", std::nullopt, {{{"P.JPG", {1, 1}}, "panel", {}}}},
        {plan::GroupKind::label,
         "1",
         RelicLabelExtracted{"青铜鼎", "殷墟", "商代", ""},
         {{{"L.JPG", {1, 1}}, "label", {}}, {{"A.JPG", {1, 1}}, "artifact", {{"A.DNG", {2, 2}}}}}},
        {plan::GroupKind::unreadLabel, "2", std::nullopt, {{{"U.JPG", {1, 1}}, "label", {}}}},
        {plan::GroupKind::leftovers, "3", std::nullopt, {{{"X.JPG", {1, 1}}, "artifact", {}}}},
    };
    PlanPreviewModel model(made);
    QList<int> renamed;
    QObject::connect(&model, &PlanPreviewModel::folderNameChanged, [&](int row) { renamed << row; });
    EXPECT_FALSE(model.hasFields(0));
    EXPECT_EQ(model.folderName(1), QStringLiteral("1 青铜鼎 殷墟 商代"));
    model.setField(1, PlanPreviewModel::name, QStringLiteral("青铜 方/鼎"));
    EXPECT_EQ(model.folderName(1), QStringLiteral("1 青铜方鼎 殷墟 商代"));
    model.setField(2, PlanPreviewModel::name, QStringLiteral("玉琮"));
    EXPECT_EQ(model.folderName(2), QStringLiteral("2 玉琮 来源不明 年代不明"));
    model.setField(1, PlanPreviewModel::other, QStringLiteral("高 30 厘米")); // no rename
    EXPECT_EQ(renamed, (QList<int>{1, 2}));

    EXPECT_TRUE(model.moveFile(1, "A.JPG", 3));
    EXPECT_FALSE(model.moveFile(1, "A.JPG", 3)); // no longer there
    EXPECT_EQ(model.rowOf("A.JPG"), 3);
    const plan::Plan edited = model.plan();
    ASSERT_EQ(edited.groups[3].entries.size(), 2u);
    EXPECT_EQ(edited.groups[3].entries[1].companions.size(), 1u);
    EXPECT_EQ(edited.groups[1].label->name, QStringLiteral("青铜方鼎"));
    EXPECT_EQ(edited.groups[1].label->other, QStringLiteral("高 30 厘米"));
    EXPECT_EQ(edited.groups[2].label->name, QStringLiteral("玉琮"));
    EXPECT_FALSE(edited.groups[3].label);
    // Emptied rows are not created.
    EXPECT_TRUE(model.moveFile(2, "U.JPG", 1));
    EXPECT_EQ(plan::toGroups(model.plan(), "/shoot").size(), 3u);
}

TEST_F(OrganizeFlowTest, ThePreviewShowsThePlanAndStartsItAsEdited) {
    const auto before = treeHashes(shoot.dir());
    ASSERT_TRUE(view->previewButton()->isEnabled());
    view->previewButton()->click();
    ASSERT_TRUE(waitUntil([&] { return view->currentPreview() != nullptr; }, 60000))
        << messages().join('\n').toStdString();
    // Closed, a preview moves nothing; opened again, it is started as edited.
    view->currentPreview()->reject();
    ASSERT_TRUE(waitUntil([&] { return view->currentPreview() == nullptr; }));
    EXPECT_FALSE(view->isProcessing());
    EXPECT_EQ(treeHashes(shoot.dir()), before);
    view->previewButton()->click();
    ASSERT_TRUE(waitUntil([&] { return view->currentPreview() != nullptr; }, 60000));
    PlanPreview* preview = view->currentPreview();
    ASSERT_EQ(preview->rowCount(), 3);
    EXPECT_EQ(preview->folderLabel(0)->text(), QStringLiteral("0 展板"));
    EXPECT_EQ(preview->folderLabel(1)->text(), QStringLiteral("1 青铜鼎 湖北省博物馆藏 商代晚期"));
    EXPECT_EQ(preview->strip(1)->count(), 4);
    // The thumbnails arrive from the workers and are drawn into the items.
    ASSERT_TRUE(waitUntil([&] { return preview->thumbnailsShown() == 9; }, 30000));
    // Rendering: the item's tile shows the photo, not the empty tile it starts with.
    const auto centre = [&] {
        return preview->strip(1)->item(1)->icon().pixmap(120, 120).toImage().pixelColor(60, 60).rgb();
    };
    EXPECT_TRUE(waitUntil([&] { return centre() != Theme::cardBorder.rgb(); }));

    // An edited name renames the row at once.
    QLineEdit* nameEdit = preview->fieldEdit(1, PlanPreviewModel::name);
    nameEdit->setText(QStringLiteral("方鼎"));
    EXPECT_EQ(preview->folderLabel(1)->text(), QStringLiteral("1 方鼎 湖北省博物馆藏 商代晚期"));

    // A thumbnail dropped on the second exhibit's row moves the file there.
    const QModelIndex dragged = preview->strip(1)->model()->index(3, 0); // IMG_0004.JPG
    std::unique_ptr<QMimeData> data(preview->strip(1)->model()->mimeData({dragged}));
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->hasFormat(PhotoStrip::kMimeType)) << data->formats().join(',').toStdString();
    QDragEnterEvent enter(QPoint(10, 10), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview->strip(2)->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview->strip(2)->viewport(), &drop);
    EXPECT_TRUE(preview->strip(2)->viewport()->acceptDrops());
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(waitUntil([&] { return preview->strip(2)->count() == 5; }));
    EXPECT_EQ(preview->strip(1)->count(), 3);

    preview->startButton()->click();
    ASSERT_TRUE(waitUntil([&] { return view->isProcessing(); }, 5000));
    ASSERT_TRUE(waitUntil([&] { return !view->isProcessing(); }, 60000));
    const auto moved = std::filesystem::path(shoot.dir()) / "2 玉琮 浙江省博物馆藏 良渚文化" / "IMG_0004.JPG";
    EXPECT_TRUE(std::filesystem::exists(moved)) << messages().join('\n').toStdString();
    EXPECT_TRUE(std::filesystem::exists(shoot.dir() / "1 方鼎 湖北省博物馆藏 商代晚期" / "IMG_0005.json"));
    EXPECT_TRUE(view->canUndoOrganize());
}

TEST_F(OrganizeFlowTest, StopDuringARunOrAPreviewMovesNothingAndClosesTheLog) {
    const auto before = treeHashes(shoot.dir());
    shoot.backend().setLatency(std::chrono::milliseconds(30));
    for (QPushButton* button : {view->startButton(), view->previewButton()}) {
        SCOPED_TRACE(button->text().toStdString());
        int requests = 0;
        shoot.backend().onRequest([&](const QString&) {
            if (++requests == 3) QMetaObject::invokeMethod(view, &ContentView::stop, Qt::QueuedConnection);
        });
        const bool run = button == view->startButton();
        button->click();
        EXPECT_FALSE(view->previewButton()->isEnabled());
        if (run) {
            ASSERT_TRUE(waitUntil([&] { return button->text() == QStringLiteral("处理中…"); }, 10000))
                << "after Stop the button waits for the run";
            EXPECT_FALSE(button->isEnabled());
        }
        EXPECT_TRUE(waitUntil([&] { return view->progressBar()->maximum() >= 3; }, 10000))
            << "the bar counts the run's files, not just spins";
        ASSERT_TRUE(waitUntil([&] { return !view->isProcessing(); }, 60000));
        QCoreApplication::processEvents();
        EXPECT_EQ(treeHashes(shoot.dir()), before) << "stopped before moving: nothing moved";
        EXPECT_LT(requests, 9) << "the run did not go on to the end";
        EXPECT_EQ(lock->owner(), ProcessingLock::Owner::idle);
        EXPECT_EQ(view->currentPreview(), nullptr) << "a stopped preparation shows no sheet";
        EXPECT_TRUE(view->previewButton()->isEnabled());
    }
    const QStringList lines = messages();
    EXPECT_TRUE(lines.contains(QStringLiteral("[取消] 已停止：已移动 0 个文件，其余文件保持原位")))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("—— 整理结束 ——")));
}
