#include "cli/Cli.h"

#include "core/Text.h"
#include "samples/SampleShoot.h"

namespace cli {

int makeSampleCommand(Args& args) {
    const auto exhibits = args.take(QStringLiteral("--exhibits"));
    const auto seed = args.take(QStringLiteral("--seed"));
    bool exhibitsOk = true, seedOk = true;
    const int count = exhibits ? exhibits->toInt(&exhibitsOk) : 6;
    const uint seedValue = seed ? seed->toUInt(&seedOk) : 1u;
    if (args.unknownOption() || args.rest().size() != 1 || !exhibitsOk || !seedOk || count < 1 || count > 500)
        return usageError("make-sample");
    const auto dir = args.path(0);
    std::error_code ec;
    if (std::filesystem::exists(dir, ec) && !std::filesystem::is_empty(dir, ec)) {
        err(QStringLiteral("目标文件夹不是空的：") + core::displayPath(dir));
        return 2;
    }
    try {
        const auto shoot = samples::makeSampleShoot(dir, count, seedValue);
        out(QStringLiteral("示例展览：%1 件展品，%2 个文件 → %3")
                .arg(QString::number(count), QString::number(shoot.shots.size()), core::displayPath(dir)));
    } catch (const std::exception& e) {
        err(QStringLiteral("无法生成示例照片：") + QString::fromLocal8Bit(e.what()));
        return 1;
    }
    return 0;
}

} // namespace cli
