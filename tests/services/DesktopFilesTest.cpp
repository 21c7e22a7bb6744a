#include "services/ServiceEntry.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace fixtures;
using Kind = FinderWorkItem::Kind;

namespace {

const QString kSource = QStringLiteral(VITRINO_SOURCE_DIR);
const QString kOCRScript = QStringLiteral("Vitrino：AI OCR");
const QString kNameScript = QStringLiteral("Vitrino：重新整理并命名");

/// A "vitrino" in `bin` that writes the arguments it was given to `out`, one per line.
void writeFakeVitrino(const fs::path& bin, const QString& out) {
    fs::create_directories(bin);
    writeBytes(bin / "vitrino", "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + out.toStdString() + "'\n");
    fs::permissions(bin / "vitrino", fs::perms::owner_all);
}

} // namespace

TEST(DesktopFiles, SelectionsReachVitrinoAsOneLinkWithEveryPathIntact) {
    TempDir dir;
    const QString out = QString::fromStdString((dir / "args").string());
    writeFakeVitrino(dir / "bin", out);
    QProcessEnvironment base = QProcessEnvironment::systemEnvironment();
    base.insert("PATH", QString::fromStdString((dir / "bin").string()) + ":" + kSource +
                            "/desktop:" + base.value("PATH"));
    const std::vector<fs::path> tricky{"/照片/展厅 1/IMG 0001.JPG", "/a&b/c#d/it's \"x\" 100%.jpg",
                                       "/q?path=/evil&x=1/y.png", "/ends with space /z.jpg"};
    std::string list;
    for (const auto& p : tricky)
        list += p.string() + "\n";

    for (const auto& [script, kind] :
         {std::pair{kOCRScript, Kind::ocrImage}, {kNameScript, Kind::nameFolder}}) {
        SCOPED_TRACE(script.toStdString());
        QFile::remove(out);
        QProcessEnvironment env = base;
        env.insert("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", QString::fromStdString(list));
        const CliRun r = run(kSource + "/desktop/nautilus/" + script, {}, env);
        ASSERT_EQ(r.exitCode, 0) << (r.stdoutText + r.stderrText).toStdString();
        EXPECT_EQ(readText(out).count('\n'), 1); // one link, every path intact
        EXPECT_EQ(ServiceEntry::parseOpenURL(readText(out).trimmed()), (ServiceEntry::Request{kind, tricky}));
    }

    // Dolphin passes the paths as arguments; a relative one is taken from the working folder.
    QFile::remove(out);
    const CliRun r = run(kSource + "/desktop/vitrino-open-selection", {"ocr", "/a b.jpg", "rel/c.jpg"}, base,
                         120000, QString::fromStdString(dir.path().string()));
    ASSERT_EQ(r.exitCode, 0) << (r.stdoutText + r.stderrText).toStdString();
    const auto got = ServiceEntry::parseOpenURL(readText(out).trimmed());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->paths, (std::vector<fs::path>{"/a b.jpg", dir / "rel/c.jpg"}));

    // An empty selection starts nothing.
    QFile::remove(out);
    QProcessEnvironment empty = base;
    empty.insert("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", "");
    EXPECT_EQ(run(kSource + "/desktop/nautilus/" + kOCRScript, {}, empty).exitCode, 0);
    EXPECT_FALSE(QFile::exists(out));
}

TEST(DesktopFiles, UserInstallRegistersTheHandlerAndIsRepeatable) {
    if (QStandardPaths::findExecutable("xdg-mime").isEmpty() ||
        QStandardPaths::findExecutable("update-desktop-database").isEmpty())
        GTEST_SKIP() << "xdg-utils or desktop-file-utils missing";
    TempDir home;
    const QString h = QString::fromStdString(home.path().string());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* var :
         {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CURRENT_DESKTOP", "XDG_DATA_DIRS", "VITRINO_PREFIX"})
        env.remove(var);
    env.insert("HOME", h);
    env.insert("VITRINO_BUILD_DIR", VITRINO_BINARY_DIR);
    // The menu of an earlier version, which offered naming on images too, goes.
    fs::create_directories(home / ".local/share/kio/servicemenus");
    writeBytes(home / ".local/share/kio/servicemenus/vitrino-actions.desktop", "[Desktop Entry]\n");
    for (int round = 0; round < 2; ++round) {
        const CliRun r = run(kSource + "/scripts/install", {"--user", "--desktop-only"}, env);
        ASSERT_EQ(r.exitCode, 0) << (r.stdoutText + r.stderrText).toStdString();
    }
    const QString local = h + "/.local";
    EXPECT_TRUE(readText(local + "/share/applications/mimeinfo.cache")
                    .contains("x-scheme-handler/vitrino=vitrino-url-handler.desktop"));
    EXPECT_TRUE(readText(h + "/.config/mimeapps.list")
                    .contains("x-scheme-handler/vitrino=vitrino-url-handler.desktop"));
    EXPECT_TRUE(QFileInfo(local + "/share/kio/servicemenus/vitrino-name.desktop").isExecutable());
    EXPECT_TRUE(QFileInfo(local + "/share/kio/servicemenus/vitrino-ocr.desktop").isExecutable());
    EXPECT_FALSE(QFileInfo::exists(local + "/share/kio/servicemenus/vitrino-actions.desktop"));
    const QDir scripts(local + "/share/nautilus/scripts");
    EXPECT_EQ(scripts.entryList(QDir::Files | QDir::System, QDir::Name),
              (QStringList{kOCRScript, kNameScript}));

    // The installed Nautilus script finds the installed helper through its link.
    const QString out = h + "/args";
    writeFakeVitrino(home / "fake", out);
    QProcessEnvironment use = env;
    use.insert("PATH", h + "/fake:/usr/bin:/bin");
    use.insert("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", "/x y/1.jpg\n");
    ASSERT_EQ(run(scripts.filePath(kOCRScript), {}, use).exitCode, 0);
    EXPECT_EQ(readText(out).trimmed(), "vitrino://ocr?path=/x%20y/1.jpg");
}
