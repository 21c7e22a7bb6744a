#include "cli/Cli.h"

#include "platform/Process.h"

#include "core/Text.h"

#include <QDateTime>

#include <csignal>
#include <cstdio>

namespace cli {

static void writeLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void out(const QString& line) {
    writeLine(stdout, line);
}
void err(const QString& line) {
    writeLine(stderr, line);
}

Args::Args(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        m_raw.emplace_back(argv[i]);
        m_rest << QString::fromLocal8Bit(argv[i]);
    }
}

std::optional<QString> Args::take(const QString& name) {
    const qsizetype i = m_rest.indexOf(name);
    if (i < 0 || i + 1 >= m_rest.size()) return std::nullopt;
    QString value = m_rest.at(i + 1);
    m_rest.remove(i, 2);
    m_raw.erase(m_raw.begin() + i, m_raw.begin() + i + 2);
    return value;
}

bool Args::flag(const QString& name) {
    const qsizetype i = m_rest.indexOf(name);
    if (i < 0) return false;
    m_rest.remove(i);
    m_raw.erase(m_raw.begin() + i);
    return true;
}

std::filesystem::path Args::path(int index) const {
    return std::filesystem::path(m_raw.at(size_t(index)));
}

std::optional<QString> Args::unknownOption() const {
    for (const auto& word : m_rest)
        if (word.startsWith(QLatin1String("--"))) return word;
    return std::nullopt;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> list = {
        {"scan", scanCommand, "scan DIR", "扫描文件夹，列出识别任务"},
        {"thumb", thumbCommand, "thumb IMAGE --max N -o OUT.jpg", "生成缩略图"},
        {"prepare", prepareCommand, "prepare IMAGE -o OUT.jpg", "生成上传给模型的 JPEG"},
        {"chat", chatCommand,
         "chat IMAGE --prompt tri|label|ocr|FILE [--max-tokens N] [--engine remote|local] [--base-url URL] "
         "[--model ID]",
         "发送图片与提示词，打印模型回复"},
        {"probe", probeCommand, "probe IMAGE...", "本机检测图中是否有文字"},
        {"classify", classifyCommand,
         "classify DIR [--no-prefilter] [--requests N] [--engine remote|local] [--base-url URL] [--model ID]",
         "扫描并分类（展板 / 标签 / 文物）"},
        {"organize", organizeCommand,
         "organize DIR [--no-prefilter] [--dry-run] [--plan-out PLAN.json] [--requests N] "
         "[--engine remote|local] [--base-url URL] [--model ID] | organize DIR --plan PLAN.json | "
         "organize --undo DIR",
         "按拍摄时间整理：每件展品一个文件夹；--dry-run --plan-out 写出计划供检查修改，--plan 按计划执行；"
         "--undo 撤销该文件夹上一次整理"},
        {"refine", refineCommand, "refine DIR | refine --undo DIR",
         "FeaturePrint 后处理：把更像上一件展品的照片搬回上一个文件夹；--undo 撤销上一次后处理"},
        {"name", nameCommand,
         "name DIR... [--no-prefilter] [--requests N] [--engine remote|local] [--base-url URL] [--model ID]",
         "就地命名展品文件夹：按标签重命名文物照片与文件夹，按角色写星级"},
        {"ocr", ocrCommand, "ocr PATH... [--engine remote|local] [--base-url URL] [--model ID]",
         "读出图片中的文字，存为同名 .txt（文件夹读当前层图片）"},
        {"undo", historyUndoCommand, "undo PATH",
         "撤销 PATH（整理过的文件夹或其中任一文件夹）最近一次改动文件的操作；再运行撤销更早的一次"},
        {"history", historyCommand, "history PATH", "列出 PATH 所在文件夹的操作记录（最新在前）及能否撤销"},
        {"make-sample", makeSampleCommand, "make-sample DIR [--exhibits N] [--seed S]",
         "生成一组示例展览照片（N 为 1–500）", true},
    };
    return list;
}

const Command* findCommand(const QString& name) {
    for (const auto& command : commands())
        if (name == QLatin1String(command.name)) return &command;
    return nullptr;
}

QString usageLine(const char* name) {
    const Command* command = findCommand(QLatin1String(name));
    return QStringLiteral("用法：vitrino-cli ") +
           (command ? QString::fromUtf8(command->synopsis) : QString());
}

QString usage() {
    QStringList lines{QStringLiteral("用法：vitrino-cli <命令> …")};
    for (const auto& c : commands())
        lines << QStringLiteral("  %1\n      %2")
                     .arg(QString::fromUtf8(c.synopsis), QString::fromUtf8(c.description));
    lines << QStringLiteral("  --help | COMMAND --help | --version");
    lines << QStringLiteral(
        "连接模型的命令另收 --base-url URL 与 --model ID；密钥只从环境变量 VITRINO_API_KEY 读取。");
    lines << QStringLiteral("--requests N：同时向模型服务发出的请求数（1–32，默认取设置，初始为 1）。");
    return lines.join(QLatin1Char('\n'));
}

int usageError(const char* name) {
    err(usageLine(name));
    return 2;
}

namespace {

std::atomic<bool>* signalFlag = nullptr;

extern "C" void cancelOnSignal(int) {
    if (signalFlag) signalFlag->store(true);
}

} // namespace

CancelOnSignals::CancelOnSignals(const core::CancelToken& token) : m_token(token) {
    signalFlag = m_token.flag();
    struct sigaction action {};
    action.sa_handler = cancelOnSignal;
    sigemptyset(&action.sa_mask);
    // The first signal asks the run to stop after the current file; a second one ends it at once.
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

CancelOnSignals::~CancelOnSignals() {
    // The job has ended and written its closing lines: a signal that arrives now has nothing left
    // to stop, so it is taken quietly (the token may already be gone) and the process exits as it
    // would have.
    static std::atomic<bool> afterTheJob{false};
    signalFlag = &afterTheJob;
}

TerminalProgress::TerminalProgress() : m_active(platform::standardErrorIsTerminal()) {}

namespace {

QString timeLeft(qint64 ms) {
    const qint64 seconds = (ms + 999) / 1000;
    if (seconds >= 60) return QStringLiteral("剩余约 %1 分 %2 秒").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("剩余约 %1 秒").arg(seconds);
}

} // namespace

void TerminalProgress::update(const core::Progress& progress) {
    if (!m_active) return;
    const std::lock_guard<std::mutex> hold(m_mutex);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (progress.stage != m_stage) {
        m_stage = progress.stage;
        m_stageStartMs = now;
    }
    QString line = progress.stage;
    if (progress.count > 0) line += QStringLiteral(" %1/%2").arg(progress.index).arg(progress.count);
    if (!progress.file.isEmpty()) line += QLatin1Char(' ') + core::escapeControls(progress.file);
    if (progress.count > 0 && progress.index > 1) {
        const qint64 perItem = (now - m_stageStartMs) / (progress.index - 1);
        line += QLatin1Char(' ') + timeLeft(perItem * (progress.count - progress.index + 1));
    }
    m_line = line;
    draw();
}

void TerminalProgress::draw() {
    const QByteArray bytes = "\r\x1b[K" + m_line.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void TerminalProgress::print(const QString& line) {
    // A file name may hold a line break: it must not split the line it is printed in.
    const QString shown = core::escapeControls(line);
    if (!m_active) {
        out(shown);
        return;
    }
    const std::lock_guard<std::mutex> hold(m_mutex);
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    out(shown);
    if (!m_line.isEmpty()) draw();
}

void TerminalProgress::clear() {
    if (!m_active) return;
    const std::lock_guard<std::mutex> hold(m_mutex);
    m_line.clear();
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
}

} // namespace cli
