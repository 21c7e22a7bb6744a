// The preview of a shoot of 2,000 photos (200 exhibit rows of 10): the time until the contact
// sheet is shown, the longest stall of the GUI thread while the thumbnails stream in (a 10 ms
// timer's longest gap), and the time until every thumbnail is drawn. Baseline in the same run:
// the same sheet with its thumbnails made on the GUI thread before it is shown.

#include "app/PlanPreview.h"
#include "platform/FileSystem.h"
#include "platform/Imaging.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kRows = 200;
constexpr int kPerRow = 10;

plan::Plan makeShoot(const std::filesystem::path& dir) {
    plan::Plan made;
    made.folder = dir;
    int n = 0;
    for (int row = 0; row < kRows; ++row) {
        plan::Group group{plan::GroupKind::label,
                          QString::number(row + 1),
                          RelicLabelExtracted{QStringLiteral("器物%1").arg(row), QStringLiteral("遗址"),
                                              QStringLiteral("汉"), QString()},
                          {}};
        for (int i = 0; i < kPerRow; ++i, ++n) {
            const std::string name = "IMG_" + std::to_string(10000 + n) + ".JPG";
            // Camera-sized in pixels would take minutes to write; 1600×1200 keeps the decode real.
            fixtures::writeJpeg(dir / name, 1600, 1200, {}, 0, unsigned(n));
            group.entries.push_back(
                {{name, *platform::fileStamp(dir / name)}, i == 0 ? "label" : "artifact", {}});
        }
        made.groups.push_back(std::move(group));
    }
    return made;
}

struct Measure {
    double shownMs = 0;
    double longestGapMs = 0;
    double allMs = 0;
};

Measure measure(const plan::Plan& shoot, bool onGuiThread) {
    Measure m;
    ThumbnailCache cache(160);
    QElapsedTimer clock;
    clock.start();
    if (onGuiThread)
        for (const auto& group : shoot.groups)
            for (const auto& entry : group.entries)
                if (const auto source = platform::openImageSource(shoot.folder / entry.file.name))
                    (void)platform::thumbnail(*source, 160);
    PlanPreview preview(shoot, cache);
    preview.show();
    QCoreApplication::processEvents();
    m.shownMs = double(clock.nsecsElapsed()) / 1e6;
    QElapsedTimer gap;
    gap.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        m.longestGapMs = std::max(m.longestGapMs, double(gap.nsecsElapsed()) / 1e6);
        gap.restart();
    });
    tick.start(10);
    const int total = kRows * kPerRow;
    while (!onGuiThread && preview.thumbnailsShown() < total && clock.elapsed() < 300000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    m.allMs = double(clock.nsecsElapsed()) / 1e6;
    return m;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    fixtures::TempDir dir;
    std::printf("writing %d photos…\n", kRows * kPerRow);
    const plan::Plan shoot = makeShoot(dir.path());
    const Measure base = measure(shoot, true);
    const Measure ours = measure(shoot, false);
    std::printf("baseline (thumbnails on the GUI thread first): shown after %.0f ms\n", base.shownMs);
    std::printf("preview: shown after %.0f ms (%.2f× the baseline), longest GUI stall while thumbnails "
                "arrive %.0f ms, all %d thumbnails after %.0f ms\n",
                ours.shownMs, ours.shownMs / base.shownMs, ours.longestGapMs, kRows * kPerRow, ours.allMs);
    return 0;
}
