#include "app/FinderJobWindow.h"
#include "app/LogPanel.h"
#include "app/Widgets.h"
#include "services/FinderJobController.h"
#include "support/Process.h"

#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

/// Holds each folder until released.
struct HeldRunner : FinderJobRunner {
    QSemaphore permits;
    FolderOutcome nameFolder(const services::RunJob& job, const std::filesystem::path& folder) override {
        job.log(QStringLiteral("  处理中"));
        permits.acquire();
        return {folder, {}, 3};
    }
    ImageOutcome readImage(const services::RunJob&, const std::filesystem::path&) override { return {}; }
};

} // namespace

TEST(FinderJobWindow,
     FollowsTheQueueTakesEachFolderOnceStopsAfterTheFolderAtHandAndClosesWhenTheBatchIsOver) {
    QTemporaryDir dir;
    std::vector<std::filesystem::path> folders;
    for (const char* name : {"展柜 1", "2", "3"}) {
        QDir(dir.path()).mkpath(QString::fromUtf8(name));
        folders.push_back(QDir(dir.path()).filePath(QString::fromUtf8(name)).toStdString());
    }
    ProcessingLock lock(QDir(dir.path()).filePath(QStringLiteral("lock")));
    auto* held = new HeldRunner; // owned by the controller
    FinderJobController controller(std::unique_ptr<FinderJobRunner>(held), lock);
    FinderJobWindowHost host(controller);

    controller.handleIncoming(FinderWorkItem::Kind::nameFolder, {folders[0]});
    FinderJobWindow* window = host.window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vitrino重新整理"));
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("正在处理 1/1"));
    EXPECT_EQ(window->pathLabel()->fullText(), QString::fromStdString(folders[0].string()));
    EXPECT_TRUE(window->spinner()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logModel()->count() >= 5; }));
    // A folder handed over again (spelled with a trailing slash) adds nothing and raises the
    // window; new ones join the batch, each once, and run after the folder at hand.
    QSignalSpy raised(&controller, &FinderJobController::windowRaised);
    const QStringList before = controller.logMessages();
    controller.handleIncoming(FinderWorkItem::Kind::nameFolder, {folders[0].string() + "/"});
    EXPECT_EQ(controller.logMessages(), before);
    EXPECT_GE(raised.count(), 1);
    controller.handleIncoming(FinderWorkItem::Kind::nameFolder, {folders[1], folders[2], folders[0]});
    EXPECT_TRUE(controller.logMessages().last().endsWith("已加入队列 2 项（命名），当前排队共 2 个。"));
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("正在处理 1/3"));
    held->permits.release();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window->statusLabel()->text() == QStringLiteral("正在处理 2/3"); }));
    EXPECT_EQ(window->pathLabel()->fullText(), QString::fromStdString(folders[1].string()));

    window->stopButton()->click();
    EXPECT_FALSE(window->stopButton()->isEnabled());
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("正在停止（当前文件完成后）…"));
    // The title-bar close is refused until the folder at hand is done.
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->confirmButton()->isEnabled());
    held->permits.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.isFinished(); }));
    EXPECT_EQ(window->statusLabel()->text(), QStringLiteral("已停止（已处理 2/3 项）"));
    EXPECT_FALSE(window->spinner()->isVisible());
    EXPECT_TRUE(window->confirmButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->logModel()->lines() == controller.logMessages(); }));
    const QStringList shown = fixtures::unstamped(window->logModel()->lines());
    EXPECT_EQ(shown.mid(shown.size() - 2),
              (QStringList{"—— [2/3] 结束 ——", "[取消] 已停止：已移动 6 个文件，其余文件保持原位"}));
    EXPECT_EQ(lock.owner(), ProcessingLock::Owner::finder);

    window->confirmButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.window() == nullptr; }));
    EXPECT_EQ(lock.owner(), ProcessingLock::Owner::idle);

    // A later hand-over opens a fresh window with an empty log.
    controller.handleIncoming(FinderWorkItem::Kind::ocrImage, {"/nonexistent/x.jpg"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.window() && controller.isFinished(); }));
    EXPECT_EQ(host.window()->windowTitle(), QStringLiteral("AI OCR"));
    EXPECT_EQ(host.window()->statusLabel()->text(), QStringLiteral("无法开始"));
    EXPECT_EQ(host.window()->logModel()->count(), 1);
    EXPECT_TRUE(host.window()->close()); // refused hand-overs can be dismissed
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.window() == nullptr; }));
}

TEST(FinderJobWindow, UnderscoresOfPathsThatHoldChineseAreDrawn) {
    // The main window's folder label and the job window's path line, drawn offscreen with a
    // Chinese font taller than the Latin one (as Noto CJK is beside DejaVu): the underscore's
    // column must hold its pixels.
    const QString tall = QStringLiteral("Noto Serif CJK SC");
    if (!QFontDatabase::hasFamily(tall)) GTEST_SKIP() << "needs fonts-noto-cjk";
    struct Case {
        const char* name;
        QFont font;
        int maxLines;
    };
    const Case cases[] = {{"folder label", monoFont(12), 1}, {"job window path", uiFont(11), 2}};
    const QString path = QStringLiteral("/照片/0 展板/IMG_0001.JPG");
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        c.font.setFamilies({QFontInfo(c.font).family(), tall});
        ElidedLabel label(Qt::ElideMiddle, nullptr, c.maxLines);
        label.setFont(c.font);
        QPalette palette = label.palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label.setPalette(palette);
        label.setFullText(path);
        // Shown at the height the label asks for.
        label.resize(600, c.maxLines > 1 ? label.heightForWidth(600) : label.sizeHint().height());
        ASSERT_EQ(label.shownText(), path);
        QImage image(label.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        label.render(&image);

        // The underscore's column: between the caret positions before and after it.
        QTextLayout layout(path, c.font);
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        ASSERT_GT(line.height(), QFontMetrics(c.font).lineSpacing()) << "the Chinese font is not taller";
        const qsizetype at = path.indexOf(QLatin1Char('_'));
        const int left = label.contentsRect().left() + int(std::ceil(line.cursorToX(int(at)))) + 1;
        const int right = label.contentsRect().left() + int(std::floor(line.cursorToX(int(at + 1)))) - 1;
        ASSERT_LT(left, right);
        int dark = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = left; x < right; ++x)
                if (qGray(image.pixel(x, y)) < 128) ++dark;
        EXPECT_GE(dark, 2) << "the underscore was not drawn";
    }
}

TEST(FinderJobWindow, APathTakesAtMostTwoLinesAndKeepsItsBeginningAndEnd) {
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
        EXPECT_GE(label.heightForWidth(200), c.lines * label.fontMetrics().lineSpacing());
    }
}
