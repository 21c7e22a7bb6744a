// Writes the manual pages of the installed programs (vitrino-cli.1, vitrino.1, vitrino-local-ai.1,
// vitrino-open-selection.1) into a folder. The commands come from vitrino-cli's own command
// table, the one its --help prints, so a command added there appears here at the next build.
//
//   vitrino-man-pages OUT_DIR VERSION

#include "cli/Cli.h"
#include "services/ServiceEntry.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

/// Text as roff input: backslashes and hyphens escaped, a control character at a line start
/// neutralised.
QString roff(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\e");
        else if (c == QLatin1Char('-'))
            out += QStringLiteral("\\-");
        else
            out += c;
    }
    QStringList lines = out.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\'')))
            line.prepend(QStringLiteral("\\&"));
    return lines.join(QLatin1Char('\n'));
}

/// One argument of a macro such as .B: quoted, so spaces stay inside it.
QString quoted(const QString& text) {
    QString escaped = roff(text);
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\(dq"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

/// One entry of a section: a tagged paragraph (the tag in bold, the text below it), a plain
/// paragraph when the tag is empty, or an indented line set as is (a command to type).
struct Entry {
    QString tag, text;
    bool literal = false;
};

/// A manual page: the header, then sections of entries (or of roff written as is), then the pages
/// it refers to.
struct Page {
    QString name, summary, synopsis;
    std::vector<std::pair<QString, std::vector<Entry>>> sections;
    QStringList seeAlso;

    QString roffText(const QString& version) const {
        // Left-aligned and unhyphenated: Chinese text has no spaces to stretch, so justified lines
        // could not be adjusted, and paths and commands must not break at a hyphen.
        QString out = QStringLiteral(
                          ".TH %1 1 \"\" \"Vitrino %2\" \"User Commands\"\n.ad l\n.nh\n.SH NAME\n%3 \\- %4\n")
                          .arg(roff(name.toUpper()), roff(version), roff(name), roff(summary));
        out += QStringLiteral(".SH SYNOPSIS\n") + synopsis;
        for (const auto& [title, entries] : sections) {
            out += QStringLiteral(".SH %1\n").arg(title);
            for (const Entry& entry : entries)
                if (entry.literal)
                    out +=
                        QStringLiteral(".PP\n.RS\n.nf\n") + roff(entry.text) + QStringLiteral("\n.fi\n.RE\n");
                else if (entry.tag.isEmpty())
                    out += QStringLiteral(".PP\n") + roff(entry.text) + QLatin1Char('\n');
                else
                    out += QStringLiteral(".TP\n.B %1\n%2\n").arg(quoted(entry.tag), roff(entry.text));
        }
        QStringList refs;
        for (const QString& ref : seeAlso)
            refs << QStringLiteral(".BR %1 (1)").arg(roff(ref));
        return out + QStringLiteral(".SH SEE ALSO\n") + refs.join(QStringLiteral(",\n")) + QLatin1Char('\n');
    }
};

/// The commands of vitrino-cli's table, tagged with `tag` (their synopsis or their name).
std::vector<Entry> commandEntries(const char* cli::Command::*tag) {
    std::vector<Entry> entries;
    for (const cli::Command& command : cli::commands())
        entries.push_back({QString::fromUtf8(command.*tag), QString::fromUtf8(command.description)});
    return entries;
}

const Entry kLogsEntry{QStringLiteral("~/.local/share/Vitrino/Logs"),
                       QStringLiteral("The log of every run (the last five).")};

Page cliPage() {
    return {
        QStringLiteral("vitrino-cli"),
        QStringLiteral("sort an exhibition shoot into one folder per exhibit, without a window"),
        QStringLiteral(".B vitrino\\-cli\n.I command\n.RI [ options ]\n.br\n"
                       ".B vitrino\\-cli \\-\\-help\n.br\n"
                       ".B vitrino\\-cli\n.I command\n.B \\-\\-help\n.br\n"
                       ".B vitrino\\-cli \\-\\-version\n"),
        {{QStringLiteral("DESCRIPTION"),
          {{{},
            QStringLiteral(
                "vitrino-cli does the work of vitrino(1) on the command line. A vision model tells wall "
                "panels, label cards and objects apart and reads each label card; the photographs shot "
                "before a label go into a folder named after it. Same-named RAW/JPEG pairs travel "
                "together; nothing is overwritten.")},
           {{},
            QStringLiteral(
                "The model is the configured AI endpoint (an OpenAI-compatible chat-completions service) "
                "or the offline engine on this machine, which uploads nothing. With no endpoint "
                "configured and no --base-url given, the offline engine is used; --engine remote or "
                "--engine local insists on one.")}}},
         {QStringLiteral("COMMANDS"), commandEntries(&cli::Command::synopsis)},
         {QStringLiteral("OPTIONS"),
          {{QStringLiteral("--help"),
            QStringLiteral("The usage of every command; after a command, its own.")},
           {QStringLiteral("--version"), QStringLiteral("The version.")},
           {QStringLiteral("--base-url URL"),
            QStringLiteral("The chat-completions endpoint for this run, instead of the stored one.")},
           {QStringLiteral("--model ID"),
            QStringLiteral("The model for this run, instead of the stored one.")},
           {QStringLiteral("--engine remote|local"),
            QStringLiteral("The configured endpoint, or the offline engine on this machine.")}}},
         {QStringLiteral("EXIT STATUS"),
          {{QStringLiteral("0"), QStringLiteral("Every file was handled.")},
           {QStringLiteral("1"), QStringLiteral("Some files failed; the log says which.")},
           {QStringLiteral("2"), QStringLiteral("The run could not start: bad arguments, no AI settings for "
                                                "--engine remote, or another run holding the lock.")},
           {QStringLiteral("130"),
            QStringLiteral("Stopped by Ctrl-C or SIGTERM after the current file; a second "
                           "run finishes the job.")}}},
         {QStringLiteral("ENVIRONMENT"),
          {{QStringLiteral("VITRINO_API_KEY"),
            QStringLiteral(
                "The key of the AI endpoint. It is read only from here, never from the command line, and "
                "never written to a log.")},
           {QStringLiteral("VITRINO_MODELS_DIR"),
            QStringLiteral(
                "Where the offline engine's model files are, instead of share/vitrino/models beside the "
                "program.")},
           {QStringLiteral("XDG_RUNTIME_DIR"),
            QStringLiteral(
                "The folder of the processing lock. When unset, /run/user/UID is used if the system "
                "made it, else a private runtime-USER folder in the temporary folder.")}}},
         {QStringLiteral("FILES"),
          {{QStringLiteral("/usr/share/vitrino/models"),
            QStringLiteral("The offline engine's text and image-feature models and their SHA256SUMS.")},
           {QStringLiteral("~/.config/Vitrino/Vitrino.conf"),
            QStringLiteral("The AI endpoint settings, shared with the window.")},
           kLogsEntry}}},
        {QStringLiteral("vitrino"), QStringLiteral("vitrino-local-ai"), QStringLiteral("exiftool")},
    };
}

Page appPage() {
    using Kind = FinderWorkItem::Kind;
    std::vector<Entry> description = {
        {{},
         QStringLiteral(
             "vitrino is the desktop application. Pick a folder of exhibition photographs and start; a "
             "vision model tells wall panels, label cards and objects apart and reads each label card, "
             "and the photographs shot before a label go into a folder named after it. The log shows "
             "every step. The model is a configured AI endpoint or the offline engine on this machine, "
             "which uploads nothing.")},
        {{},
         QStringLiteral(
             "One vitrino runs per user: a later one hands its arguments to the running one and exits. "
             "Each argument that is a vitrino: link is a job from the file manager, done in a job "
             "window:")},
        {ServiceEntry::openURL({Kind::ocrImage, {"/photos/IMG_0001.JPG"}}),
         QStringLiteral("Reads the text in the images and saves it beside each as a .txt file.")},
        {ServiceEntry::openURL({Kind::nameFolder, {"/photos/hall 1", "/photos/hall 2"}}),
         QStringLiteral("Names each exhibit folder in place after its label card.")},
        {{},
         QStringLiteral(
             "The file managers' actions make these links: the Dolphin service menu and the Nautilus "
             "scripts call vitrino-open-selection(1). For Nautilus, each user links the scripts into "
             "their own folder:")},
        {{},
         QStringLiteral("ln -s /usr/share/vitrino/nautilus-scripts/* ~/.local/share/nautilus/scripts/"),
         true},
    };
    std::vector<Entry> commandLine = {
        {{}, QStringLiteral("The same work without a window is done by vitrino-cli(1):")}};
    for (Entry& entry : commandEntries(&cli::Command::name))
        commandLine.push_back(std::move(entry));
    return {
        QStringLiteral("vitrino"),
        QStringLiteral("sort an exhibition shoot into one folder per exhibit"),
        QStringLiteral(".B vitrino\n.RI [ URL ...]\n"),
        {{QStringLiteral("DESCRIPTION"), description},
         {QStringLiteral("COMMAND LINE"), commandLine},
         {QStringLiteral("FILES"),
          {{QStringLiteral("~/.config/Vitrino/Vitrino.conf"), QStringLiteral("The AI endpoint settings.")},
           kLogsEntry,
           {QStringLiteral("/usr/share/vitrino/nautilus-scripts"),
            QStringLiteral("The Nautilus scripts.")}}}},
        {QStringLiteral("vitrino-cli"), QStringLiteral("vitrino-open-selection")},
    };
}

Page localAIPage() {
    return {
        QStringLiteral("vitrino-local-ai"),
        QStringLiteral("the offline engine of Vitrino as a service on 127.0.0.1"),
        QStringLiteral(".B vitrino\\-local\\-ai\n.RB [ \\-\\-port\n.IR N ]\n"),
        {{QStringLiteral("DESCRIPTION"),
          {{{},
            QStringLiteral(
                "vitrino-local-ai serves the offline engine as an OpenAI-compatible chat-completions "
                "endpoint on the loopback address, on port N or a free one, and prints its URL. It reads "
                "the photographs with the models on this machine and uploads nothing. Give the URL to "
                "vitrino or vitrino-cli as the AI endpoint. It stops on SIGINT or SIGTERM.")}}},
         {QStringLiteral("EXIT STATUS"),
          {{QStringLiteral("0"), QStringLiteral("Stopped by a signal.")},
           {QStringLiteral("1"),
            QStringLiteral("The models are missing or damaged, or the port cannot be had.")},
           {QStringLiteral("2"), QStringLiteral("Bad arguments.")}}}},
        {QStringLiteral("vitrino-cli")},
    };
}

Page openSelectionPage() {
    return {
        QStringLiteral("vitrino-open-selection"),
        QStringLiteral("hand a file-manager selection to Vitrino"),
        QStringLiteral(".B vitrino\\-open\\-selection\n.BR ocr | name\n.RI [ PATH ...]\n"),
        {{QStringLiteral("DESCRIPTION"),
          {{{},
            QStringLiteral(
                "Starts vitrino(1) with one vitrino: link that carries the paths: ocr reads the text in "
                "images, name names exhibit folders. Without paths, the selection is read from "
                "NAUTILUS_SCRIPT_SELECTED_FILE_PATHS, one per line. Relative paths are taken from the "
                "working folder. The Dolphin service menu and the Nautilus scripts call it.")}}}},
        {QStringLiteral("vitrino")},
    };
}

bool write(const QDir& dir, const QString& name, const QString& text) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0) {
        std::fprintf(stderr, "vitrino-man-pages: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: vitrino-man-pages OUT_DIR VERSION\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const QString version = QString::fromLocal8Bit(argv[2]);
    if (!QDir().mkpath(dir.path())) return 1;
    for (const Page& page : {cliPage(), appPage(), localAIPage(), openSelectionPage()})
        if (!write(dir, page.name + QStringLiteral(".1"), page.roffText(version))) return 1;
    return 0;
}
