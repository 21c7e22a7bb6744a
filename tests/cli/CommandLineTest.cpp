// What the command line shows beside its runs: the manual pages agree with --help.

#include "support/Fixtures.h"
#include "support/Process.h"

#include <gtest/gtest.h>

using namespace fixtures;

TEST(CommandLine, TheManualPagesListTheCommandsOfHelp) {
    const QStringList help = runCli({"--help"}).stdoutText.split('\n');
    const auto read = [](const std::string& name) {
        return QString::fromStdString(readFile(VITRINO_MAN_DIR "/" + name));
    };
    const QString cli = read("vitrino-cli.1"), app = read("vitrino.1");
    // Each command of --help (its synopsis, then its description indented) is an entry of both pages.
    int commands = 0;
    for (qsizetype i = 1; i + 1 < help.size(); ++i) {
        if (!help[i].startsWith("  ") || help[i].startsWith("   ") || !help[i + 1].startsWith("      "))
            continue;
        ++commands;
        const auto roff = [](QString text) { return text.replace("\\", "\\e").replace("-", "\\-"); };
        const QString synopsis = help[i].mid(2), description = roff(help[i + 1].mid(6));
        EXPECT_TRUE(cli.contains(".TP\n.B \"" + roff(synopsis).replace("\"", "\\(dq") + "\"\n" + description))
            << synopsis.toStdString();
        EXPECT_TRUE(app.contains(".B \"" + roff(synopsis.section(' ', 0, 0)) + "\"\n" + description))
            << synopsis.toStdString();
    }
    EXPECT_GE(commands, 10);
    EXPECT_EQ(cli.section(".SH COMMANDS", 1).section("\n.SH", 0, 0).count(".TP\n.B \""), commands);
    for (const char* page : {"vitrino-local-ai.1", "vitrino-open-selection.1"})
        EXPECT_TRUE(read(page).startsWith(".TH ")) << page;
}
