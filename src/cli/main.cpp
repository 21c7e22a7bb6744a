// vitrino-cli: the headless front end over the same runs the main window uses.

#include "cli/Cli.h"

#include <QGuiApplication>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Command {
    const char* name;
    int (*run)(cli::Args&);
    const char* usage;
    bool needsFonts = false; ///< rendering text needs a GUI application (on the offscreen platform)
};

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"scan", cli::scanCommand, "scan DIR                        扫描文件夹，列出识别任务"},
        {"thumb", cli::thumbCommand, "thumb IMAGE --max N -o OUT.jpg  生成缩略图"},
        {"prepare", cli::prepareCommand, "prepare IMAGE -o OUT.jpg        生成上传给模型的 JPEG"},
        {"chat", cli::chatCommand,
         "chat IMAGE --prompt tri|FILE [--max-tokens N]  发送图片与提示词，打印模型回复"},
        {"probe", cli::probeCommand, "probe IMAGE...                  本机检测图中是否有文字"},
        {"classify", cli::classifyCommand,
         "classify DIR [--no-prefilter]   扫描并分类（展板 / 标签 / 文物）"},
        {"organize", cli::organizeCommand,
         "organize DIR [--no-prefilter] [--dry-run]  按拍摄时间整理：每件展品一个文件夹"},
        {"make-sample", cli::makeSampleCommand,
         "make-sample DIR [--exhibits N] [--seed S]  生成一组示例展览照片", true},
    };
    return list;
}

QString usage() {
    QStringList lines{QStringLiteral("用法：vitrino-cli <命令> …")};
    for (const auto& c : commands())
        lines << QStringLiteral("  ") + QString::fromUtf8(c.usage);
    lines << QStringLiteral(
        "连接模型的命令另收 --base-url URL 与 --model ID；密钥只从环境变量 VITRINO_API_KEY 读取。");
    return lines.join(QLatin1Char('\n'));
}

} // namespace

int main(int argc, char** argv) {
    const QString name = argc >= 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    const auto found = std::find_if(commands().begin(), commands().end(),
                                    [&](const Command& c) { return name == QLatin1String(c.name); });
    const bool fonts = found != commands().end() && found->needsFonts;
    if (fonts && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app = fonts ? std::make_unique<QGuiApplication>(argc, argv)
                                                  : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vitrino"));
    QCoreApplication::setApplicationName(QStringLiteral("Vitrino"));

    for (const auto& command : commands()) {
        if (name != QLatin1String(command.name)) continue;
        cli::Args args(argc, argv, 2);
        return command.run(args);
    }
    cli::err(usage());
    return 2;
}
