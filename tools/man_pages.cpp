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

QString header(const QString& name, const QString& version, const QString& summary) {
    // Left-aligned and unhyphenated: Chinese text has no spaces to stretch, so justified lines
    // could not be adjusted, and paths and commands must not break at a hyphen.
    return QStringLiteral(".TH %1 1 \"\" \"Vitrino %2\" \"User Commands\"\n.ad l\n.nh\n.SH NAME\n%3 \\- %4\n")
        .arg(roff(name.toUpper()), roff(version), roff(name), roff(summary));
}

QString section(const QString& title) {
    return QStringLiteral(".SH %1\n").arg(title);
}

QString paragraph(const QString& text) {
    return QStringLiteral(".PP\n") + roff(text) + QLatin1Char('\n');
}

/// A tagged paragraph: the tag in bold, the text below it.
QString item(const QString& tag, const QString& text) {
    return QStringLiteral(".TP\n.B %1\n%2\n").arg(quoted(tag), roff(text));
}

QString commandsSection() {
    QString out = section(QStringLiteral("COMMANDS"));
    for (const cli::Command& command : cli::commands())
        out += item(QString::fromUtf8(command.synopsis), QString::fromUtf8(command.description));
    return out;
}

QString cliPage(const QString& version) {
    QString page =
        header(QStringLiteral("vitrino-cli"), version,
               QStringLiteral("sort an exhibition shoot into one folder per exhibit, without a window"));
    page += section(QStringLiteral("SYNOPSIS"));
    page += QStringLiteral(".B vitrino\\-cli\n.I command\n.RI [ options ]\n.br\n"
                           ".B vitrino\\-cli \\-\\-help\n.br\n"
                           ".B vitrino\\-cli\n.I command\n.B \\-\\-help\n.br\n"
                           ".B vitrino\\-cli \\-\\-version\n");
    page += section(QStringLiteral("DESCRIPTION"));
    page += paragraph(QStringLiteral(
        "vitrino-cli does the work of vitrino(1) on the command line. A vision model tells wall panels, "
        "label cards and objects apart and reads each label card; the photographs shot before a label go "
        "into a folder named after it. Same-named RAW/JPEG pairs travel together; nothing is overwritten."));
    page += paragraph(QStringLiteral(
        "The model is the configured AI endpoint (an OpenAI-compatible chat-completions service) or the "
        "offline engine on this machine, which uploads nothing. With no endpoint configured and no "
        "--base-url given, the offline engine is used; --engine remote or --engine local insists on one."));
    page += commandsSection();
    page += section(QStringLiteral("OPTIONS"));
    page += item(QStringLiteral("--help"),
                 QStringLiteral("The usage of every command; after a command, its own."));
    page += item(QStringLiteral("--version"), QStringLiteral("The version."));
    page += item(QStringLiteral("--base-url URL"),
                 QStringLiteral("The chat-completions endpoint for this run, instead of the stored one."));
    page += item(QStringLiteral("--model ID"),
                 QStringLiteral("The model for this run, instead of the stored one."));
    page += item(QStringLiteral("--engine remote|local"),
                 QStringLiteral("The configured endpoint, or the offline engine on this machine."));
    page += section(QStringLiteral("EXIT STATUS"));
    page += item(QStringLiteral("0"), QStringLiteral("Every file was handled."));
    page += item(QStringLiteral("1"), QStringLiteral("Some files failed; the log says which."));
    page += item(QStringLiteral("2"),
                 QStringLiteral("The run could not start: bad arguments, no AI settings for --engine remote, "
                                "or another run holding the lock."));
    page +=
        item(QStringLiteral("130"),
             QStringLiteral("Stopped by Ctrl-C or SIGTERM after the current file; a second run finishes the "
                            "job."));
    page += section(QStringLiteral("ENVIRONMENT"));
    page +=
        item(QStringLiteral("VITRINO_API_KEY"),
             QStringLiteral("The key of the AI endpoint. It is read only from here, never from the command "
                            "line, and never written to a log."));
    page += item(QStringLiteral("VITRINO_MODELS_DIR"),
                 QStringLiteral("Where the offline engine's model files are, instead of share/vitrino/models "
                                "beside the program."));
    page +=
        item(QStringLiteral("XDG_RUNTIME_DIR"),
             QStringLiteral("The folder of the processing lock. When unset, /run/user/UID is used if the "
                            "system made it, else a private runtime-USER folder in the temporary folder."));
    page += section(QStringLiteral("FILES"));
    page += item(QStringLiteral("/usr/share/vitrino/models"),
                 QStringLiteral("The offline engine's text and image-feature models and their SHA256SUMS."));
    page += item(QStringLiteral("~/.config/Vitrino/Vitrino.conf"),
                 QStringLiteral("The AI endpoint settings, shared with the window."));
    page += item(QStringLiteral("~/.local/share/Vitrino/Logs"),
                 QStringLiteral("The log of every run (the last five)."));
    page += section(QStringLiteral("SEE ALSO"));
    page += QStringLiteral(".BR vitrino (1),\n.BR vitrino\\-local\\-ai (1),\n.BR exiftool (1)\n");
    return page;
}

QString appPage(const QString& version) {
    using Kind = FinderWorkItem::Kind;
    QString page = header(QStringLiteral("vitrino"), version,
                          QStringLiteral("sort an exhibition shoot into one folder per exhibit"));
    page += section(QStringLiteral("SYNOPSIS"));
    page += QStringLiteral(".B vitrino\n.RI [ URL ...]\n");
    page += section(QStringLiteral("DESCRIPTION"));
    page += paragraph(QStringLiteral(
        "vitrino is the desktop application. Pick a folder of exhibition photographs and start; a vision "
        "model tells wall panels, label cards and objects apart and reads each label card, and the "
        "photographs shot before a label go into a folder named after it. The log shows every step. The "
        "model is a configured AI endpoint or the offline engine on this machine, which uploads nothing."));
    page += paragraph(QStringLiteral(
        "One vitrino runs per user: a later one hands its arguments to the running one and exits. Each "
        "argument that is a vitrino: link is a job from the file manager, done in a job window:"));
    const QString ocr = ServiceEntry::openURL({Kind::ocrImage, {"/photos/IMG_0001.JPG"}});
    const QString name = ServiceEntry::openURL({Kind::nameFolder, {"/photos/hall 1", "/photos/hall 2"}});
    page +=
        item(ocr, QStringLiteral("Reads the text in the images and saves it beside each as a .txt file."));
    page += item(name, QStringLiteral("Names each exhibit folder in place after its label card."));
    page += paragraph(QStringLiteral(
        "The file managers' actions make these links: the Dolphin service menu and the Nautilus scripts "
        "call vitrino-open-selection(1). For Nautilus, each user links the scripts into their own folder:"));
    page +=
        QStringLiteral(".PP\n.RS\n.nf\n") +
        roff(QStringLiteral("ln -s /usr/share/vitrino/nautilus-scripts/* ~/.local/share/nautilus/scripts/")) +
        QStringLiteral("\n.fi\n.RE\n");
    page += section(QStringLiteral("COMMAND LINE"));
    page += paragraph(QStringLiteral("The same work without a window is done by vitrino-cli(1):"));
    for (const cli::Command& command : cli::commands())
        page += item(QString::fromUtf8(command.name), QString::fromUtf8(command.description));
    page += section(QStringLiteral("FILES"));
    page +=
        item(QStringLiteral("~/.config/Vitrino/Vitrino.conf"), QStringLiteral("The AI endpoint settings."));
    page += item(QStringLiteral("~/.local/share/Vitrino/Logs"),
                 QStringLiteral("The log of every run (the last five)."));
    page +=
        item(QStringLiteral("/usr/share/vitrino/nautilus-scripts"), QStringLiteral("The Nautilus scripts."));
    page += section(QStringLiteral("SEE ALSO"));
    page += QStringLiteral(".BR vitrino\\-cli (1),\n.BR vitrino\\-open\\-selection (1)\n");
    return page;
}

QString localAIPage(const QString& version) {
    QString page = header(QStringLiteral("vitrino-local-ai"), version,
                          QStringLiteral("the offline engine of Vitrino as a service on 127.0.0.1"));
    page += section(QStringLiteral("SYNOPSIS"));
    page += QStringLiteral(".B vitrino\\-local\\-ai\n.RB [ \\-\\-port\n.IR N ]\n");
    page += section(QStringLiteral("DESCRIPTION"));
    page += paragraph(QStringLiteral(
        "vitrino-local-ai serves the offline engine as an OpenAI-compatible chat-completions endpoint on "
        "the loopback address, on port N or a free one, and prints its URL. It reads the photographs "
        "with the models on this machine and uploads nothing. Give the URL to vitrino or vitrino-cli as "
        "the AI endpoint. It stops on SIGINT or SIGTERM."));
    page += section(QStringLiteral("EXIT STATUS"));
    page += item(QStringLiteral("0"), QStringLiteral("Stopped by a signal."));
    page += item(QStringLiteral("1"),
                 QStringLiteral("The models are missing or damaged, or the port cannot be had."));
    page += item(QStringLiteral("2"), QStringLiteral("Bad arguments."));
    page += section(QStringLiteral("SEE ALSO"));
    page += QStringLiteral(".BR vitrino\\-cli (1)\n");
    return page;
}

QString openSelectionPage(const QString& version) {
    QString page = header(QStringLiteral("vitrino-open-selection"), version,
                          QStringLiteral("hand a file-manager selection to Vitrino"));
    page += section(QStringLiteral("SYNOPSIS"));
    page += QStringLiteral(".B vitrino\\-open\\-selection\n.BR ocr | name\n.RI [ PATH ...]\n");
    page += section(QStringLiteral("DESCRIPTION"));
    page += paragraph(QStringLiteral(
        "Starts vitrino(1) with one vitrino: link that carries the paths: ocr reads the text in images, "
        "name names exhibit folders. Without paths, the selection is read from "
        "NAUTILUS_SCRIPT_SELECTED_FILE_PATHS, one per line. Relative paths are taken from the working "
        "folder. The Dolphin service menu and the Nautilus scripts call it."));
    page += section(QStringLiteral("SEE ALSO"));
    page += QStringLiteral(".BR vitrino (1)\n");
    return page;
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
    const bool ok = write(dir, QStringLiteral("vitrino-cli.1"), cliPage(version)) &&
                    write(dir, QStringLiteral("vitrino.1"), appPage(version)) &&
                    write(dir, QStringLiteral("vitrino-local-ai.1"), localAIPage(version)) &&
                    write(dir, QStringLiteral("vitrino-open-selection.1"), openSelectionPage(version));
    return ok ? 0 : 1;
}
