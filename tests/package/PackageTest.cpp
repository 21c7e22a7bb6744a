// The Debian package: CPack packs this build tree as scripts/package packs a release build, and
// the package unpacked with dpkg -x into a temporary folder holds the programs, their models, the
// desktop files, the metadata and the documents, and its programs work from where they lie.

#include "support/Fixtures.h"
#include "support/Process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

/// The model files the build tree carries, as its SHA256SUMS lists them.
QStringList modelFiles() {
    QStringList names;
    for (const QString& line : readText(QStringLiteral(VITRINO_BINARY_DIR "/models/SHA256SUMS")).split('\n'))
        if (const QStringList parts = line.simplified().split(' '); parts.size() == 2) names << parts[1];
    return names;
}

} // namespace

TEST(Package, HoldsEveryPartAndItsProgramsRunWhereTheyLie) {
    for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "desktop-file-validate", "appstreamcli"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP()
                << tool << " missing (scripts/bootstrap installs dpkg-dev, desktop-file-utils and appstream)";
    TempDir dir;
    const QString out = QString::fromStdString((dir / "out").string());
    // gzip instead of the release's xz: the same contents, packed in a fraction of the time.
    const CliRun packed = run(QStringLiteral(VITRINO_CPACK_COMMAND),
                              {"--config", VITRINO_BINARY_DIR "/CPackConfig.cmake", "-G", "DEB", "-B", out,
                               "-D", "CPACK_DEBIAN_COMPRESSION_TYPE=gzip"},
                              QProcessEnvironment::systemEnvironment(), 600000);
    const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
    ASSERT_TRUE(packed.exitCode == 0 && debs.size() == 1)
        << (packed.stdoutText + packed.stderrText).toStdString();
    const QString deb = QDir(out).filePath(debs[0]), root = QString::fromStdString((dir / "root").string());
    ASSERT_EQ(run("dpkg-deb", {"-x", deb, root}).exitCode, 0);
    const auto path = [&](const QString& relative) { return root + QLatin1Char('/') + relative; };

    const QString version = QStringLiteral(VITRINO_VERSION);
    const QString arch = run("dpkg", {"--print-architecture"}).stdoutText.trimmed();
    EXPECT_EQ(QFileInfo(deb).fileName(), QStringLiteral("vitrino_%1_%2.deb").arg(version, arch));

    // Dolphin offers only its two menus: naming for folders, OCR for images and folders.
    const QStringList programs{"vitrino", "vitrino-cli", "vitrino-local-ai", "vitrino-open-selection"};
    QStringList executables{"usr/share/kio/servicemenus/vitrino-name.desktop",
                            "usr/share/kio/servicemenus/vitrino-ocr.desktop",
                            "usr/share/vitrino/nautilus-scripts/Vitrino：AI OCR",
                            "usr/share/vitrino/nautilus-scripts/Vitrino：重新整理并命名"};
    QStringList files{"usr/share/applications/vitrino.desktop",
                      "usr/share/applications/vitrino-url-handler.desktop",
                      "usr/share/icons/hicolor/scalable/apps/vitrino.svg",
                      "usr/share/metainfo/" VITRINO_APPSTREAM_ID ".metainfo.xml",
                      "usr/share/doc/vitrino/copyright",
                      "usr/share/doc/vitrino/changelog.gz",
                      "usr/share/vitrino/models/SHA256SUMS"};
    for (const QString& program : programs) {
        executables << "usr/bin/" + program;
        files << "usr/share/man/man1/" + program + ".1.gz";
    }
    const QStringList models = modelFiles();
    ASSERT_GE(models.size(), 6) << "the build tree has no models (scripts/models)";
    for (const QString& model : models)
        files << "usr/share/vitrino/models/" + model;
    for (const QString& part : executables + files) {
        const QFileInfo info(path(part));
        EXPECT_TRUE(info.isFile()) << part.toStdString();
        EXPECT_EQ(info.isExecutable(), executables.contains(part)) << part.toStdString();
    }
    // Everything lies under /usr, and nothing of the build (the models' stamps) came along.
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"usr"});
    EXPECT_TRUE(QDir(path("usr/share/vitrino/models")).entryList({"STAMP*"}).isEmpty());
    EXPECT_EQ(QDir(path("usr/bin")).entryList(QDir::Files, QDir::Name), programs);

    // The manual page in the package is the one the build wrote from the command table.
    const CliRun page = run("gzip", {"-dc", path("usr/share/man/man1/vitrino-cli.1.gz")});
    EXPECT_EQ(page.stdoutText, readText(QStringLiteral(VITRINO_MAN_DIR "/vitrino-cli.1")));

    // Every bundled model is named in the copyright file with its licence.
    const QString copyright = readText(path("usr/share/doc/vitrino/copyright"));
    for (const QString& model : models)
        EXPECT_TRUE(copyright.contains("usr/share/vitrino/models/" + model)) << model.toStdString();
    for (const char* licence : {"License: Apache-2.0\n", "License: Expat\n"})
        EXPECT_TRUE(copyright.contains(QString::fromLatin1(licence))) << licence;

    EXPECT_TRUE(readText(path("usr/share/metainfo/" VITRINO_APPSTREAM_ID ".metainfo.xml"))
                    .contains("<release version=\"" + version + "\""))
        << "no release entry for " << version.toStdString();
    const CliRun appstream =
        run("appstreamcli", {"validate", "--no-net", "--pedantic",
                             path("usr/share/metainfo/" VITRINO_APPSTREAM_ID ".metainfo.xml")});
    EXPECT_EQ(appstream.exitCode, 0) << appstream.stdoutText.toStdString();
    for (const char* desktop : {"vitrino.desktop", "vitrino-url-handler.desktop"}) {
        const CliRun checked =
            run("desktop-file-validate", {path(QStringLiteral("usr/share/applications/") + desktop)});
        EXPECT_EQ(checked.exitCode, 0) << desktop;
        EXPECT_EQ(checked.stdoutText + checked.stderrText, QString()) << desktop;
    }

    // The dependencies: the libraries the programs link, and what they load or run by name.
    const CliRun fields = run("dpkg-deb", {"-f", deb, "Package", "Version", "Architecture", "Depends"});
    for (const QString& field :
         QStringList{"Package: vitrino\n", "Version: " + version + "\n", "Architecture: " + arch + "\n"})
        EXPECT_TRUE(fields.stdoutText.contains(field)) << fields.stdoutText.toStdString();
    for (const char* dependency :
         {"libqt6core6", "libqt6widgets6", "libopencv-dnn", "libexiv2", "libraw", "libheif1",
          "libimage-exiftool-perl", "qt6-translations-l10n", "libqt6svg6", "fonts-noto-cjk"})
        EXPECT_TRUE(fields.stdoutText.contains(QString::fromLatin1(dependency))) << dependency;

    const QString cli = path("usr/bin/vitrino-cli");
    const CliRun printed = run(cli, {"--version"});
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_EQ(printed.stdoutText, "vitrino-cli " + version + "\n");
    EXPECT_EQ(run(path("usr/bin/vitrino-local-ai"), {"--port", "none"}).exitCode, 2)
        << "starts, refuses the port";

    TempDir home, work;
    QProcessEnvironment env = isolatedEnvironment(QString::fromStdString(home.path().string()), QString());
    env.remove("VITRINO_MODELS_DIR");
    const QString shoot = QString::fromStdString((work / "展览").string());
    const CliRun sample = run(cli, {"make-sample", shoot, "--exhibits", "2", "--seed", "7"}, env);
    ASSERT_EQ(sample.exitCode, 0) << sample.stderrText.toStdString();
    const CliRun organized = run(cli, {"organize", shoot, "--engine", "local"}, env, 600000);
    EXPECT_EQ(organized.exitCode, 0) << organized.stdoutText.toStdString()
                                     << organized.stderrText.toStdString();
    EXPECT_EQ(organized.stderrText, QString());
    const QStringList folders = QDir(shoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    EXPECT_EQ(folders.filter(QRegularExpression("^[12] ")).size(), 2) << folders.join(", ").toStdString();
    EXPECT_TRUE(QDir(shoot).entryList(QDir::Files).isEmpty()) << "photos left behind";

    // The models read were the package's own: a damaged one beside the unpacked program is named.
    const QString det = path("usr/share/vitrino/models/det.onnx");
    QFile::remove(det);
    writeBytes(det.toStdString(), "not a model");
    const QString image = QDir(shoot).filePath(folders.filter(QRegularExpression("^1 ")).value(0));
    const QStringList photos = QDir(image).entryList({"*.JPG", "*.jpg"}, QDir::Files);
    ASSERT_FALSE(photos.isEmpty());
    const CliRun probe = run(cli, {"probe", QDir(image).filePath(photos[0])}, env);
    EXPECT_NE(probe.exitCode, 0);
    EXPECT_TRUE((probe.stdoutText + probe.stderrText).contains(QDir::cleanPath(det)))
        << (probe.stdoutText + probe.stderrText).toStdString();
}
