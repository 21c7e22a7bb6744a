// The window with the real organize run on a generated shoot, the vision model played by a
// scripted backend: a whole run from the preview, undone from the menu, and runs stopped midway.

#include "ai/AIConfig.h"
#include "app/CompactSwitch.h"
#include "app/ContentView.h"
#include "app/MainWindow.h"
#include "app/PlanPreview.h"
#include "app/ServiceRuns.h"
#include "app/Theme.h"
#include "support/Process.h"
#include "support/Shoot.h"

#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

class OrganizeFlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        exhibits(shoot, 2);
        config.setApiKey(QString());
        view->offlineSwitch()->setChecked(true);
        view->prefilterSwitch()->setChecked(false);
        view->folderPicked(QString::fromStdString(shoot.dir().string()));
    }
    QStringList messages() {
        view->logPump()->flush();
        return unstamped(view->logModel()->lines());
    }
    bool idle() {
        return QTest::qWaitFor([&] { return !view->isProcessing(); }, 60000);
    }
    TempDir dir, home;
    FakeAIServer server;
    Shoot shoot{dir.path(), server};
    ai::AIConfig config;
    ProcessingLock lock{QString::fromStdString((home / "lock").string())};
    app::ServiceRuns runs{[this](const ai::AISettings&, bool offline) -> core::Result<services::Engine> {
        EXPECT_TRUE(offline);
        return services::Engine{std::make_unique<ai::BorrowedBackend>(shoot.backend()), QString(), true};
    }};
    MainWindow window{config, lock, runs};
    ContentView* view = window.content();
};

} // namespace

TEST_F(OrganizeFlowTest, ThePreviewShowsThePlanStartsItAsEditedAndTheMenuUndoesTheRun) {
    shoot.raw("E0_2.DNG", "2024:05:01 10:10:02"); // moved with its JPEG
    const auto before = treeHashes(shoot.dir());
    ASSERT_TRUE(view->previewButton()->isEnabled() && view->startButton()->isEnabled())
        << "offline: no endpoint needed";
    view->previewButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->currentPreview() != nullptr; }, 60000))
        << messages().join('\n').toStdString();
    // Closed, a preview moves nothing; opened again, it is started as edited.
    view->currentPreview()->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->currentPreview() == nullptr; }));
    EXPECT_FALSE(view->isProcessing());
    EXPECT_EQ(treeHashes(shoot.dir()), before);
    view->previewButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->currentPreview() != nullptr; }, 60000));
    PlanPreview* preview = view->currentPreview();
    ASSERT_EQ(preview->rowCount(), 3);
    EXPECT_EQ(preview->folderLabel(0)->text(), QStringLiteral("0 展板"));
    EXPECT_EQ(preview->folderLabel(1)->text(), QStringLiteral("1 器物0 遗址 汉"));
    EXPECT_EQ(preview->strip(1)->count(), 4);
    // The thumbnails arrive from the workers and are drawn into the items.
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->thumbnailsShown() == 9; }, 30000));
    // Rendering: the item's tile shows the photo, not the empty tile it starts with.
    const auto centre = [&] {
        return preview->strip(1)->item(1)->icon().pixmap(120, 120).toImage().pixelColor(60, 60).rgb();
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return centre() != Theme::cardBorder.rgb(); }));

    // An edited name renames the row at once.
    QLineEdit* nameEdit = preview->fieldEdit(1, PlanPreviewModel::name);
    nameEdit->setText(QStringLiteral("方鼎"));
    EXPECT_EQ(preview->folderLabel(1)->text(), QStringLiteral("1 方鼎 遗址 汉"));

    // A thumbnail dropped on the second exhibit's row moves the file there.
    const QModelIndex dragged = preview->strip(1)->model()->index(3, 0); // E0_2.JPG
    std::unique_ptr<QMimeData> data(preview->strip(1)->model()->mimeData({dragged}));
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->hasFormat(PhotoStrip::kMimeType)) << data->formats().join(',').toStdString();
    QDragEnterEvent enter(QPoint(10, 10), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview->strip(2)->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(preview->strip(2)->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->strip(2)->count() == 5; }));
    EXPECT_EQ(preview->strip(1)->count(), 3);

    preview->startButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isProcessing(); }, 5000));
    ASSERT_TRUE(idle());
    const auto moved = std::filesystem::path(shoot.dir()) / "2 器物1 遗址 汉" / "E0_2.JPG";
    EXPECT_TRUE(std::filesystem::exists(moved)) << messages().join('\n').toStdString();
    EXPECT_TRUE(std::filesystem::exists(moved.parent_path() / "E0_2.DNG"));
    EXPECT_TRUE(std::filesystem::exists(shoot.dir() / "1 方鼎 遗址 汉" / "E0_L.json"));
    EXPECT_TRUE(std::filesystem::exists(shoot.dir() / "0 展板" / "P.JPG"));
    EXPECT_FALSE(messages().join('\n').contains(QStringLiteral("错误汇总")));
    ASSERT_TRUE(view->canUndoOrganize() && window.undoLatestAction()->isEnabled())
        << "the run left a journal";
    view->undoOrganizeFromMenu();
    ASSERT_TRUE(idle());
    EXPECT_EQ(treeHashes(shoot.dir()), before) << "every file back under its old name, label files gone";
    EXPECT_EQ(messages().last(), QStringLiteral("—— 撤销结束 ——")) << messages().join('\n').toStdString();
    EXPECT_FALSE(view->canUndoOrganize());
    EXPECT_EQ(lock.owner(), ProcessingLock::Owner::idle);
}

TEST_F(OrganizeFlowTest, StopOrClosingDuringARunOrAPreviewMovesNothingAndClosesTheLog) {
    const auto before = treeHashes(shoot.dir());
    shoot.backend().setLatency(std::chrono::milliseconds(30));
    window.show();
    // Closing the window stops the run first and closes once it has ended.
    for (const auto& [button, closing] :
         {std::pair{view->startButton(), false}, std::pair{view->previewButton(), false},
          std::pair{view->startButton(), true}}) {
        SCOPED_TRACE(button->text().toStdString() + (closing ? " closing" : ""));
        int requests = 0;
        shoot.backend().onRequest([&, closing = closing](const QString&) {
            if (++requests != 3) return;
            if (closing)
                QMetaObject::invokeMethod(
                    view, [&] { EXPECT_FALSE(window.close()) << "the window waits for the run"; },
                    Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(view, &ContentView::stop, Qt::QueuedConnection);
        });
        const bool run = button == view->startButton();
        button->click();
        EXPECT_FALSE(view->previewButton()->isEnabled());
        if (run) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return button->text() == QStringLiteral("处理中…"); }, 10000))
                << "after Stop the button waits for the run";
            EXPECT_FALSE(button->isEnabled());
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return view->progressBar()->maximum() >= 3; }, 10000))
            << "the bar counts the run's files, not just spins";
        ASSERT_TRUE(idle());
        QCoreApplication::processEvents();
        EXPECT_EQ(treeHashes(shoot.dir()), before) << "stopped before moving: nothing moved";
        EXPECT_LT(requests, 9) << "the run did not go on to the end";
        EXPECT_EQ(lock.owner(), ProcessingLock::Owner::idle);
        EXPECT_EQ(view->currentPreview(), nullptr) << "a stopped preparation shows no sheet";
        EXPECT_TRUE(view->previewButton()->isEnabled());
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isVisible() != closing; }));
    }
    const QStringList lines = messages();
    EXPECT_TRUE(lines.contains(QStringLiteral("[取消] 已停止：已移动 0 个文件，其余文件保持原位")))
        << lines.join('\n').toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("—— 整理结束 ——"));
}
