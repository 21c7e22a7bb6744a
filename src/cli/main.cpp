// vitrino-cli: the headless front end over the same runs the main window uses.

#include "cli/Cli.h"

#include <QCoreApplication>

#include <functional>
#include <map>

namespace {

const char* kUsage =
    "用法：vitrino-cli <命令> …\n"
    "  scan DIR                      扫描文件夹，列出识别任务\n"
    "  thumb IMAGE --max N -o OUT.jpg 生成缩略图\n"
    "  prepare IMAGE -o OUT.jpg       生成上传给模型的 JPEG\n"
    "  chat IMAGE --prompt tri|FILE [--max-tokens N] [--base-url URL] [--model ID]\n"
    "                                发送图片与提示词，打印模型回复（密钥取自 VITRINO_API_KEY）\n";

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vitrino"));
    QCoreApplication::setApplicationName(QStringLiteral("Vitrino"));

    const std::map<QString, std::function<int(cli::Args&)>> commands = {
        {QStringLiteral("scan"), cli::scanCommand},       {QStringLiteral("thumb"), cli::thumbCommand},
        {QStringLiteral("prepare"), cli::prepareCommand}, {QStringLiteral("chat"), cli::chatCommand},
        {QStringLiteral("probe"), cli::probeCommand},     {QStringLiteral("classify"), cli::classifyCommand},
    };
    if (argc < 2 || !commands.count(QString::fromLocal8Bit(argv[1]))) {
        cli::err(QString::fromUtf8(kUsage).trimmed());
        return 2;
    }
    cli::Args args(argc, argv, 2);
    return commands.at(QString::fromLocal8Bit(argv[1]))(args);
}
