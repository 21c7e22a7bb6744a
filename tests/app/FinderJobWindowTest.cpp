#include "app/FinderJobWindow.h"
#include "Wait.h"
#include "app/LogPanel.h"
#include "app/Widgets.h"
#include "services/FinderJobController.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

/// Holds each folder until released.
struct HeldRunner : FinderJobRunner {
    QSemaphore permits;
    FolderOutcome nameFolder(const std::filesystem::path& folder, const core::Log& log) override {
        log(QStringLiteral("  处理中"));
        permits.acquire();
        return {folder, {}};
    }
    bool readImage(const std::filesystem::path&, const core::Log&) override { return true; }
};

} // namespace

TEST(FinderJobWindow, FollowsTheQueueAndClosesOnlyWhenTheBatchIsOver) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("展柜 1"));
    const std::filesystem::path folder = QDir(dir.path()).filePath(QStringLiteral("展柜 1")).toStdString();
    ProcessingLock lock(QDir(dir.path()).filePath(QStringLiteral("lock")));
    auto runner = std::make_unique<HeldRunner>();
    HeldRunner* held = runner.get();
    FinderJobController controller(std::move(runner), lock);
    FinderJobWindowHost host(controller);

    controller.handleIncoming(FinderWorkItem::Kind::nameFolder, {folder});
    FinderJobWindow* window = host.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vitrino重新整理"));
    EXPECT_EQ(window->size(), QSize(560, 420));
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("正在处理 1/1"));
    EXPECT_EQ(window->pathLabel()->fullText(), QString::fromStdString(folder.string()));
    EXPECT_TRUE(window->spinner()->isVisible());
    EXPECT_FALSE(window->confirmButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return window->logModel()->count() >= 5; }));

    // The title-bar close is refused while the folder runs.
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());

    held->permits.release();
    ASSERT_TRUE(waitUntil([&] { return controller.isFinished(); }));
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("全部完成（1 项）"));
    EXPECT_FALSE(window->spinner()->isVisible());
    EXPECT_TRUE(window->confirmButton()->isEnabled());
    EXPECT_EQ(window->logModel()->lines(), controller.logMessages());
    EXPECT_EQ(lock.owner(), ProcessingLock::Owner::finder);

    window->confirmButton()->click();
    ASSERT_TRUE(waitUntil([&] { return host.window() == nullptr; }));
    EXPECT_EQ(lock.owner(), ProcessingLock::Owner::idle);
    EXPECT_EQ(controller.statusText(), QStringLiteral("准备处理"));

    // A later hand-over opens a fresh window with an empty log.
    controller.handleIncoming(FinderWorkItem::Kind::ocrImage, {"/nonexistent/x.jpg"});
    ASSERT_TRUE(waitUntil([&] { return host.window() && controller.isFinished(); }));
    EXPECT_EQ(host.window()->windowTitle(), QStringLiteral("AI OCR"));
    EXPECT_EQ(host.window()->statusLabel()->text(), QStringLiteral("无法开始"));
    EXPECT_EQ(host.window()->logModel()->count(), 1);
    EXPECT_TRUE(host.window()->close()); // refused hand-overs can be dismissed
    ASSERT_TRUE(waitUntil([&] { return host.window() == nullptr; }));
}

TEST(ElidedLabel, APathTakesAtMostTwoLinesAndKeepsItsBeginningAndEnd) {
    ElidedLabel label(Qt::ElideMiddle, nullptr, 2);
    label.resize(200, 40);
    const int width = label.contentsRect().width();
    const QString start = QStringLiteral("/home/u/");
    const QString end = QStringLiteral("/IMG_0001.JPG");
    // A path about `widths` times as wide as the label.
    const auto pathOf = [&](double widths) {
        QString path = start;
        while (label.fontMetrics().horizontalAdvance(path + end) < widths * width)
            path += path.size() % 7 == 0 ? QStringLiteral("/") : QStringLiteral("展");
        return path + end;
    };
    struct Case {
        double widths;
        int lines;
        bool shortened;
    };
    for (const Case c : {Case{0.5, 1, false}, Case{1.4, 2, false}, Case{6, 2, true}}) {
        SCOPED_TRACE(c.widths);
        const QString path = pathOf(c.widths);
        label.setFullText(path);
        const QStringList lines = label.shownLines();
        EXPECT_EQ(int(lines.size()), c.lines) << label.shownText().toStdString();
        for (const QString& line : lines)
            EXPECT_LE(label.fontMetrics().horizontalAdvance(line), width) << line.toStdString();
        EXPECT_EQ(label.shownText().contains(QChar(0x2026)), c.shortened);
        EXPECT_TRUE(lines.front().startsWith(start));
        EXPECT_TRUE(lines.back().endsWith(end));
        if (c.shortened)
            // As much of the path as two lines hold.
            EXPECT_GT(label.fontMetrics().horizontalAdvance(lines.join(QString())), width * 3 / 2);
        else
            EXPECT_EQ(lines.join(QString()), path);
        EXPECT_EQ(label.heightForWidth(200), c.lines * label.fontMetrics().lineSpacing());
    }
}
