// The installed shape of the application: the real executable under a virtual X server shows
// one window titled "Vitrino" of its default size and quits with status 0 on Ctrl+Q.

#include "app/QtTranslations.h"
#include "support/Process.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Smoke, RealExecutableOpensItsWindowUnderXvfbAndQuitsCleanly) {
    for (const char* tool : {"xvfb-run", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/bootstrap installs it)";
    QTemporaryDir home;
    QProcessEnvironment env = fixtures::desktopEnvironment(home.path());
    env.insert(QStringLiteral("VITRINO_APP"), QStringLiteral(VITRINO_APP_PATH));
    const QString script = QStringLiteral(R"(
"$VITRINO_APP" & pid=$!
for i in $(seq 200); do
  id=$(xdotool search --name '^Vitrino$' 2>/dev/null | head -1)
  [ -n "$id" ] && break
  sleep 0.1
done
[ -n "$id" ] || { echo "no window"; kill $pid; exit 3; }
xdotool getwindowname "$id"
xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: //p'
# A slow start (a sanitized build) may not take the first key yet: press again until it quits.
for i in $(seq 30); do
  xdotool windowfocus --sync "$id" 2>/dev/null
  xdotool key --clearmodifiers ctrl+q
  for j in $(seq 20); do kill -0 $pid 2>/dev/null || break 2; sleep 0.1; done
done
kill -0 $pid 2>/dev/null && { echo "still running"; kill $pid; }
wait $pid
echo "status $?"
)");
    QProcess run;
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("xvfb-run"), {"-a", "-s", "-screen 0 1280x1024x24", "bash", "-c", script});
    ASSERT_TRUE(run.waitForFinished(90000)) << "the application did not quit";
    const QStringList lines = QString::fromUtf8(run.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(run.exitCode(), 0) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Vitrino"))) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("760x780"))) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("status 0"))) << lines.join('\n').toStdString();
}

TEST(Smoke, QtsOwnButtonsAndFolderDialogSpeakTheDesktopsLanguage) {
    struct Case {
        const char* locale;
        const char* cancel;    ///< the standard button
        const char* newFolder; ///< the folder dialog's button
    };
    const Case cases[] = {
        {"zh_CN", "取消", "新建文件夹"},
        {"zh_TW", "取消", "建立新資料夾"},
        {"de_DE", "Abbrechen", "Neuen Ordner erstellen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        const auto translator = app::qtTranslations(QLocale(QString::fromLatin1(c.locale)));
        ASSERT_TRUE(translator) << "Qt's translations are missing (Debian: qt6-translations-l10n)";
        EXPECT_EQ(translator->translate("QPlatformTheme", "Cancel"), QString::fromUtf8(c.cancel));
        EXPECT_EQ(translator->translate("QFileDialog", "Create New Folder"), QString::fromUtf8(c.newFolder));
    }
    // A language Qt has no texts for keeps Qt's English ones.
    EXPECT_FALSE(app::qtTranslations(QLocale(QStringLiteral("sw_KE"))));
}
