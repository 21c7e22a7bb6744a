#include "samples/SampleShoot.h"
#include "support/Fixtures.h"
#include "support/Process.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <signal.h>

using namespace fixtures;
using Kind = samples::SampleShot::Kind;

TEST(OfflineEngineCli, OrganizesASmallExhibitionWithoutAnyKey) {
    TempDir home, dir;
    const auto shoot = samples::makeSampleShoot(dir.path(), 3, 11);
    const auto env = isolatedEnvironment(QString::fromStdString(home.path().string()), QString());
    const auto run = runCli({"organize", QString::fromStdString(dir.path().string())}, env, 600000);
    EXPECT_EQ(run.exitCode, 0) << run.stdoutText.toStdString();
    EXPECT_TRUE(run.stdoutText.contains(QStringLiteral("未配置 AI 接口，使用本机离线引擎（不上传照片）")));

    // Every exhibit's photographs share the folder of its label card; panels are in 0 展板.
    std::map<std::string, std::string> folderOf;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        if (entry.is_regular_file())
            folderOf[entry.path().filename().string()] =
                fs::relative(entry.path().parent_path(), dir.path()).string();
    std::map<int, std::string> exhibitFolder;
    for (const auto& shot : shoot.shots)
        if (shot.kind == Kind::label) exhibitFolder[shot.exhibit] = folderOf[shot.fileName];
    std::set<std::string> folders;
    for (const auto& [exhibit, folder] : exhibitFolder) {
        EXPECT_TRUE(QString::fromStdString(folder).startsWith(QString::number(exhibit + 1) + " ")) << folder;
        folders.insert(folder);
    }
    EXPECT_EQ(folders.size(), 3u);
    for (const auto& shot : shoot.shots) {
        const std::string want = shot.kind == Kind::panel ? "0 展板" : exhibitFolder[shot.exhibit];
        EXPECT_EQ(folderOf[shot.fileName], want) << shot.fileName;
    }
    for (const auto& shot : shoot.shots)
        if (shot.kind == Kind::label) {
            const auto stem = fs::path(shot.fileName).stem().string();
            EXPECT_TRUE(folderOf.count(stem + ".json") && folderOf.count(stem + ".txt")) << stem;
        }
}

TEST(OfflineEngineCli, EngineChoiceIsExplicitWhenAsked) {
    TempDir home, dir;
    writeJpeg(dir / "a.jpg", 320, 240);
    const QString home_ = QString::fromStdString(home.path().string());
    const QString image = QString::fromStdString((dir / "a.jpg").string());
    struct Case {
        const char* name;
        QStringList args;
        QString key;
        int exitCode;
        QString stderrText; // contained
    };
    const std::vector<Case> cases = {
        {"remote without settings",
         {"chat", image, "--prompt", "tri", "--engine", "remote"},
         "",
         2,
         "请先填写 API Base URL、Key 与 Model"},
        {"unknown engine",
         {"chat", image, "--prompt", "tri", "--engine", "cloud"},
         "",
         2,
         "--engine 只能是 remote 或 local"},
        {"default is local",
         {"chat", image, "--prompt", "tri"},
         "",
         0,
         "未配置 AI 接口，使用本机离线引擎（不上传照片）"},
        {"local even with a key",
         {"chat", image, "--prompt", "ocr", "--engine", "local"},
         "sk-x",
         0,
         "使用本机离线引擎（不上传照片）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto run = runCli(c.args, isolatedEnvironment(home_, c.key));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.stderrText.toStdString();
        EXPECT_TRUE(run.stderrText.contains(c.stderrText)) << run.stderrText.toStdString();
    }
    const auto tri = runCli({"chat", image, "--prompt", "tri"}, isolatedEnvironment(home_, ""));
    EXPECT_EQ(tri.stdoutText.trimmed(), QStringLiteral("{\"category\":\"artifact\",\"confidence\":0.9}"));
}

TEST(OfflineEngineCli, TheServiceRunsOnItsOwnAndStopsOnRequest) {
    QProcess service;
    const QString program = QFileInfo(cliPath()).dir().filePath(QStringLiteral("vitrino-local-ai"));
    service.start(program, {});
    ASSERT_TRUE(service.waitForReadyRead(30000));
    const QString url = QString::fromUtf8(service.readLine()).trimmed();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^http://127\\.0\\.0\\.1:\\d+/api/v3/chat/completions$"))
                    .match(url)
                    .hasMatch())
        << url.toStdString();
    TempDir home, dir;
    writeJpeg(dir / "a.jpg", 320, 240);
    const auto run = runCli({"chat", QString::fromStdString((dir / "a.jpg").string()), "--prompt", "tri",
                             "--base-url", url, "--engine", "remote"},
                            isolatedEnvironment(QString::fromStdString(home.path().string()), "any"));
    EXPECT_EQ(run.exitCode, 0) << run.stderrText.toStdString();
    EXPECT_TRUE(run.stdoutText.contains(QStringLiteral("artifact")));
    ::kill(pid_t(service.processId()), SIGTERM);
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
}
