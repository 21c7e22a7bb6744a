// The file-manager road end to end: the real vitrino under a virtual X server takes an OCR link
// from a second vitrino, which exits at once, and writes the text file; a vitrino started for a
// link alone shows only the job window and quits when it is confirmed.

#include "samples/Scenes.h"
#include "services/ServiceEntry.h"
#include "support/Process.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

/// A label photo, its OCR link, and a private home; `run` starts a script under a virtual X
/// server with $VITRINO_APP, $LINK and $TEXT (the text file the OCR writes) set, and returns
/// its output lines.
struct LinkRun {
    QTemporaryDir home, photos;
    QString text = QDir(photos.path()).filePath(QStringLiteral("展签 1.txt"));

    QStringList run(const QString& script) {
        const QString photo = QDir(photos.path()).filePath(QStringLiteral("展签 1.jpg"));
        scenes::writePhoto(photo.toStdString(),
                           scenes::renderLabel({"青铜饕餮纹鼎", "河南安阳殷墟出土", "商代晚期", {}}, 5));
        QProcessEnvironment env = fixtures::desktopEnvironment(home.path());
        env.insert(QStringLiteral("VITRINO_APP"), QStringLiteral(VITRINO_APP_PATH));
        env.insert("LINK", ServiceEntry::openURL({FinderWorkItem::Kind::ocrImage, {photo.toStdString()}}));
        env.insert("TEXT", text);
        QProcess xvfb;
        xvfb.setProcessEnvironment(env);
        xvfb.setProcessChannelMode(QProcess::MergedChannels);
        xvfb.start(QStringLiteral("xvfb-run"), {"-a", "-s", "-screen 0 1280x1024x24", "bash", "-c", script});
        if (!xvfb.waitForFinished(120000)) xvfb.kill();
        xvfb.waitForFinished();
        return QString::fromUtf8(xvfb.readAll()).split('\n', Qt::SkipEmptyParts);
    }
};

bool skipWithoutTools() {
    for (const char* tool : {"xvfb-run", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) return true;
    return false;
}

} // namespace

TEST(HandOver, RunningVitrinoTakesAnOCRLinkFromASecondProcess) {
    if (skipWithoutTools()) GTEST_SKIP() << "xvfb-run or xdotool missing (scripts/bootstrap installs them)";
    LinkRun link;
    const QStringList out = link.run(QStringLiteral(R"(
"$VITRINO_APP" & pid=$!
for i in $(seq 200); do
  xdotool search --onlyvisible --name '^Vitrino$' >/dev/null 2>&1 && break
  sleep 0.1
done
"$VITRINO_APP" "$LINK"; echo "sender $?"
for i in $(seq 600); do [ -s "$TEXT" ] && break; sleep 0.1; done
[ -s "$TEXT" ] && echo "written"
xdotool search --onlyvisible --name '^AI OCR$' >/dev/null 2>&1 && echo "job window"
kill $pid; wait $pid
true
)"));
    EXPECT_TRUE(out.contains("sender 0")) << out.join('\n').toStdString();
    EXPECT_TRUE(out.contains("written")) << out.join('\n').toStdString();
    EXPECT_TRUE(out.contains("job window")) << out.join('\n').toStdString();
    QFile text(link.text);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QString read = QString::fromUtf8(text.readAll());
    EXPECT_TRUE(read.contains(QStringLiteral("殷墟"))) << read.toStdString();
}

TEST(HandOver, StartedForALinkItShowsOnlyTheJobWindowAndQuitsWithIt) {
    if (skipWithoutTools()) GTEST_SKIP() << "xvfb-run or xdotool missing (scripts/bootstrap installs them)";
    LinkRun link;
    const QStringList out = link.run(QStringLiteral(R"(
"$VITRINO_APP" "$LINK" & pid=$!
for i in $(seq 600); do [ -s "$TEXT" ] && break; sleep 0.1; done
sleep 0.5
id=$(xdotool search --onlyvisible --name '^AI OCR$' 2>/dev/null | head -1)
[ -n "$id" ] && echo "job window"
xdotool search --onlyvisible --name '^Vitrino$' >/dev/null 2>&1 && echo "main window"
xdotool windowfocus --sync "$id"
xdotool key --clearmodifiers Return
wait $pid
echo "status $?"
)"));
    EXPECT_TRUE(out.contains("job window")) << out.join('\n').toStdString();
    EXPECT_FALSE(out.contains("main window")) << out.join('\n').toStdString();
    EXPECT_TRUE(out.contains("status 0")) << out.join('\n').toStdString();
}
