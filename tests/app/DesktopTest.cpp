// The real vitrino under a virtual X server: started for a link alone it shows only the job window
// and quits when that is confirmed; with its window open it takes an OCR link from a second
// vitrino (which exits at once) and writes the text file.

#include "app/QtTranslations.h"
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

/// Runs `script` under a virtual X server with $VITRINO_APP, $LINK (an OCR link to a label photo)
/// and $TEXT (the text file that OCR writes) set; its output lines and the text written.
std::pair<QStringList, QString> underXvfb(const QString& script) {
    QTemporaryDir home, photos;
    const QString photo = QDir(photos.path()).filePath(QStringLiteral("展签 1.jpg"));
    const QString text = QDir(photos.path()).filePath(QStringLiteral("展签 1.txt"));
    scenes::writePhoto(photo.toStdString(),
                       scenes::renderLabel({"青铜饕餮纹鼎", "河南安阳殷墟出土", "商代晚期", {}}, 5));
    // The user's folders below `home`, no API key, no platform plugin forced; the runtime folder is
    // `home` itself, which only its owner may use (else Qt would take a shared one).
    QProcessEnvironment env = fixtures::isolatedEnvironment(home.path(), {});
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("VITRINO_APP"), QStringLiteral(VITRINO_APP_PATH));
    env.insert("LINK", ServiceEntry::openURL({FinderWorkItem::Kind::ocrImage, {photo.toStdString()}}));
    env.insert("TEXT", text);
    QProcess xvfb;
    xvfb.setProcessEnvironment(env);
    xvfb.setProcessChannelMode(QProcess::MergedChannels);
    xvfb.start(QStringLiteral("xvfb-run"), {"-a", "-s", "-screen 0 1280x1024x24", "bash", "-c", script});
    if (!xvfb.waitForFinished(120000)) xvfb.kill();
    xvfb.waitForFinished();
    QFile file(text);
    return {QString::fromUtf8(xvfb.readAll()).split('\n', Qt::SkipEmptyParts),
            file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString()};
}

} // namespace

TEST(Desktop, ALinkAloneShowsOnlyTheJobWindowAndTheWindowTakesALinkFromASecondProcess) {
    for (const char* tool : {"xvfb-run", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << "xvfb-run or xdotool missing (scripts/bootstrap installs them)";
    const auto [out, text] = underXvfb(QStringLiteral(R"(
# Started for a link alone: only the job window, and the program quits with it.
"$VITRINO_APP" "$LINK" & pid=$!
for i in $(seq 600); do [ -s "$TEXT" ] && break; sleep 0.1; done
sleep 0.5
id=$(xdotool search --onlyvisible --name '^AI OCR$' 2>/dev/null | head -1)
[ -n "$id" ] && echo "alone: job window"
xdotool search --onlyvisible --name '^Vitrino$' >/dev/null 2>&1 && echo "alone: main window"
xdotool windowfocus --sync "$id"
xdotool key --clearmodifiers Return
wait $pid
echo "alone: status $?"
rm -f "$TEXT"
# The window open, a second vitrino hands the link over and exits at once.
"$VITRINO_APP" & pid=$!
for i in $(seq 200); do
  id=$(xdotool search --onlyvisible --name '^Vitrino$' 2>/dev/null | head -1)
  [ -n "$id" ] && break
  sleep 0.1
done
[ -n "$id" ] || { echo "no window"; kill $pid; exit 3; }
xdotool getwindowname "$id"
xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: //p'
"$VITRINO_APP" "$LINK"; echo "sender $?"
for i in $(seq 600); do [ -s "$TEXT" ] && break; sleep 0.1; done
sleep 0.5
job=$(xdotool search --onlyvisible --name '^AI OCR$' 2>/dev/null | head -1)
[ -n "$job" ] && echo "job window"
xdotool windowfocus --sync "$job"
xdotool key --clearmodifiers Return
# A slow start (a sanitized build) may not take the first key yet: press again until it quits.
for i in $(seq 30); do
  xdotool windowfocus --sync "$id" 2>/dev/null
  xdotool key --clearmodifiers ctrl+q
  for j in $(seq 20); do kill -0 $pid 2>/dev/null || break 2; sleep 0.1; done
done
kill -0 $pid 2>/dev/null && { echo "still running"; kill $pid; }
wait $pid
echo "status $?"
)"));
    for (const char* line :
         {"alone: job window", "alone: status 0", "Vitrino", "760x780", "sender 0", "job window", "status 0"})
        EXPECT_TRUE(out.contains(QString::fromUtf8(line))) << line << "\n" << out.join('\n').toStdString();
    EXPECT_FALSE(out.contains("alone: main window")) << out.join('\n').toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("殷墟"))) << text.toStdString();
}

TEST(Desktop, QtsOwnButtonsAndFolderDialogSpeakTheDesktopsLanguage) {
    const auto translator = app::qtTranslations(QLocale(QStringLiteral("zh_CN")));
    ASSERT_TRUE(translator) << "Qt's translations are missing (Debian: qt6-translations-l10n)";
    EXPECT_EQ(translator->translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    EXPECT_EQ(translator->translate("QFileDialog", "Create New Folder"), QStringLiteral("新建文件夹"));
    const auto german = app::qtTranslations(QLocale(QStringLiteral("de_DE")));
    ASSERT_TRUE(german);
    EXPECT_EQ(german->translate("QPlatformTheme", "Cancel"), QStringLiteral("Abbrechen"));
    // A language Qt has no texts for keeps Qt's English ones.
    EXPECT_FALSE(app::qtTranslations(QLocale(QStringLiteral("sw_KE"))));
}
