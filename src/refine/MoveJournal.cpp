#include "refine/MoveJournal.h"

#include "core/Text.h"
#include "platform/FileSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>
#include <map>

#include <fcntl.h>
#include <unistd.h>

namespace MoveJournal {

namespace fs = std::filesystem;
using FeaturePrintRefiner::MoveRecord;
using State = Contents::State;

namespace {

QString kindName(Kind kind) {
    return kind == Kind::organize ? QStringLiteral("organize") : QStringLiteral("refine");
}

QByteArray bytesOf(const fs::path& path) {
    return QByteArray(path.native().data(), qsizetype(path.native().size()));
}

QJsonValue encodePath(const fs::path& path) {
    const QByteArray bytes = bytesOf(path);
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes) return text;
    return QJsonObject{{QStringLiteral("base64"), QString::fromLatin1(bytes.toBase64())}};
}

std::optional<fs::path> decodePath(const QJsonValue& value) {
    QByteArray bytes;
    if (value.isString())
        bytes = value.toString().toUtf8();
    else if (value.isObject() && value.toObject().value(QStringLiteral("base64")).isString())
        bytes =
            QByteArray::fromBase64(value.toObject().value(QStringLiteral("base64")).toString().toLatin1());
    if (bytes.isEmpty()) return std::nullopt;
    return fs::path(std::string(bytes.constData(), size_t(bytes.size())));
}

QByteArray line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray sha256Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

std::optional<QByteArray> fileSha256(const fs::path& file) {
    QFile in(QFile::decodeName(file.c_str()));
    if (!in.open(QIODevice::ReadOnly)) return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&in)) return std::nullopt;
    return hash.result().toHex();
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool isJournalName(const fs::path& file) {
    return file.extension() == ".jsonl";
}

bool isEmptyDirectory(const fs::path& folder) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(folder, ec)) && fs::is_empty(folder, ec) && !ec;
}

void prune(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (isJournalName(it->path())) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    for (size_t i = 0; i + kKeptPerFolder < files.size(); ++i)
        fs::remove(files[i], ec);
}

} // namespace

QString journalsDirectory() {
    return platform::userDataDirectory(QStringLiteral("Vitrino/Journals"));
}

fs::path folderIdentity(const fs::path& folder) {
    std::error_code ec;
    fs::path identity = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) identity = fs::absolute(folder, ec).lexically_normal();
    if (identity.filename().empty() && identity.has_parent_path() && identity != identity.root_path())
        identity = identity.parent_path();
    return identity;
}

fs::path directoryFor(const fs::path& folder) {
    const QByteArray key = sha256Hex(bytesOf(folderIdentity(folder))).left(16);
    return core::toPath(journalsDirectory()) / key.toStdString();
}

// ---- Writer ----

Writer::Writer(int fd, fs::path file, qint64 nextId) : m_fd(fd), m_file(std::move(file)), m_nextId(nextId) {}

Writer::~Writer() {
    if (m_fd >= 0) ::close(m_fd);
}

core::Result<std::unique_ptr<Writer>> Writer::create(Kind kind, const fs::path& root, const QDateTime& now) {
    const fs::path dir = directoryFor(root);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return core::Error{kWriteFailed.arg(QString::fromLocal8Bit(ec.message().c_str()))};
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    for (int n = 1; n < 100; ++n) {
        const fs::path file = dir / QStringLiteral("%1-%2-%3.jsonl")
                                        .arg(stamp)
                                        .arg(n, 2, 10, QLatin1Char('0'))
                                        .arg(kindName(kind))
                                        .toStdString();
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return core::Error{kWriteFailed.arg(systemReason(errno))};
        }
        std::unique_ptr<Writer> writer(new Writer(fd, file, 1));
        const QJsonObject header{{QStringLiteral("format"), kFormat},
                                 {QStringLiteral("version"), kVersion},
                                 {QStringLiteral("kind"), kindName(kind)},
                                 {QStringLiteral("root"), encodePath(folderIdentity(root))},
                                 {QStringLiteral("started"), now.toString(Qt::ISODateWithMs)}};
        if (!writer->append(line(header))) return core::Error{*writer->error()};
        prune(dir);
        return writer;
    }
    return core::Error{kWriteFailed.arg(QStringLiteral("文件名已用尽"))};
}

core::Result<std::unique_ptr<Writer>> Writer::openExisting(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return core::Error{kWriteFailed.arg(systemReason(errno))};
    return std::unique_ptr<Writer>(new Writer(fd, file, 0));
}

bool Writer::append(const QByteArray& text) {
    if (m_fd < 0) return false;
    // One write() per line: a killed process leaves whole lines and at most one cut-off tail.
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(m_fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!m_error) m_error = kWriteFailed.arg(systemReason(errno));
            return false;
        }
        done += n;
    }
    return true;
}

std::optional<qint64> Writer::willMove(const fs::path& from, const fs::path& to) {
    const qint64 id = m_nextId++;
    if (!append(line({{QStringLiteral("op"), QStringLiteral("move")},
                      {QStringLiteral("id"), id},
                      {QStringLiteral("from"), encodePath(from)},
                      {QStringLiteral("to"), encodePath(to)}})))
        return std::nullopt;
    return id;
}

std::optional<qint64> Writer::willWrite(const fs::path& file, const QByteArray& bytes) {
    const qint64 id = m_nextId++;
    if (!append(line({{QStringLiteral("op"), QStringLiteral("write")},
                      {QStringLiteral("id"), id},
                      {QStringLiteral("path"), encodePath(file)},
                      {QStringLiteral("sha256"), QString::fromLatin1(sha256Hex(bytes))},
                      {QStringLiteral("replaced"), platform::itemExists(file)}})))
        return std::nullopt;
    return id;
}

void Writer::finished(qint64 id, bool succeeded) {
    append(line({{QStringLiteral("op"), succeeded ? QStringLiteral("done") : QStringLiteral("failed")},
                 {QStringLiteral("id"), id}}));
}

void Writer::willCreateFolder(const fs::path& folder) {
    append(line(
        {{QStringLiteral("op"), QStringLiteral("mkdir")}, {QStringLiteral("path"), encodePath(folder)}}));
}

void Writer::undone(qint64 id) {
    append(line({{QStringLiteral("op"), QStringLiteral("undone")}, {QStringLiteral("id"), id}}));
}

void Writer::dropped(qint64 id) {
    append(line({{QStringLiteral("op"), QStringLiteral("dropped")}, {QStringLiteral("id"), id}}));
}

// ---- LazyWriter ----

Writer* LazyWriter::writer() {
    if (!m_writer && !m_startError) {
        auto created = Writer::create(m_kind, m_root);
        if (created)
            m_writer = std::move(created.value());
        else
            m_startError = created.error().description();
    }
    return m_writer.get();
}

std::optional<qint64> LazyWriter::willMove(const fs::path& from, const fs::path& to) {
    Writer* w = writer();
    return w ? w->willMove(from, to) : std::nullopt;
}

std::optional<qint64> LazyWriter::willWrite(const fs::path& file, const QByteArray& bytes) {
    Writer* w = writer();
    return w ? w->willWrite(file, bytes) : std::nullopt;
}

void LazyWriter::finished(qint64 id, bool succeeded) {
    if (m_writer) m_writer->finished(id, succeeded);
}

void LazyWriter::willCreateFolder(const fs::path& folder) {
    if (Writer* w = writer()) w->willCreateFolder(folder);
}

std::optional<QString> LazyWriter::error() const {
    if (m_startError) return m_startError;
    return m_writer ? m_writer->error() : std::nullopt;
}

// ---- Reading ----

core::Result<Contents> read(const fs::path& file) {
    const QString name = core::displayName(file);
    auto unreadable = [&](const QString& reason) { return core::Error{kUnreadable.arg(name, reason)}; };
    QFile in(QFile::decodeName(file.c_str()));
    if (!in.open(QIODevice::ReadOnly)) return unreadable(in.errorString());
    const QByteArray bytes = in.readAll();
    QList<QByteArray> lines = bytes.split('\n');
    // The text after the last line feed is a line cut off by a kill (or nothing).
    const QByteArray tail = lines.takeLast();
    if (!tail.isEmpty()) {
        QJsonParseError error{};
        if (QJsonDocument::fromJson(tail, &error).isObject()) lines << tail;
    }
    if (lines.isEmpty()) return unreadable(QStringLiteral("文件为空"));

    Contents contents;
    const QJsonObject header = QJsonDocument::fromJson(lines.front()).object();
    if (header.value(QStringLiteral("format")).toString() != kFormat)
        return unreadable(QStringLiteral("不是撤销记录"));
    const int version = header.value(QStringLiteral("version")).toInt(-1);
    if (version != kVersion) return unreadable(QStringLiteral("版本 %1 不受支持").arg(version));
    const QString kind = header.value(QStringLiteral("kind")).toString();
    if (kind == kindName(Kind::organize))
        contents.kind = Kind::organize;
    else if (kind == kindName(Kind::refine))
        contents.kind = Kind::refine;
    else
        return unreadable(QStringLiteral("未知的记录种类"));
    const auto root = decodePath(header.value(QStringLiteral("root")));
    if (!root) return unreadable(QStringLiteral("缺少文件夹"));
    contents.root = *root;
    contents.started =
        QDateTime::fromString(header.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);

    // Outcomes are applied after reading: the vectors grow while lines come in.
    std::map<qint64, std::pair<bool, size_t>> where; // id → (is a move, index)
    std::vector<std::pair<qint64, State>> outcomes;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const auto bad = [&] { return unreadable(QStringLiteral("第 %1 行无法解析").arg(n + 1)); };
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(lines[n], &error);
        if (!doc.isObject()) return bad();
        const QJsonObject object = doc.object();
        const QString op = object.value(QStringLiteral("op")).toString();
        const qint64 id = object.value(QStringLiteral("id")).toInteger(-1);
        if (op == QLatin1String("mkdir")) {
            const auto path = decodePath(object.value(QStringLiteral("path")));
            if (!path) return bad();
            contents.createdFolders.push_back(*path);
        } else if (op == QLatin1String("move")) {
            const auto from = decodePath(object.value(QStringLiteral("from")));
            const auto to = decodePath(object.value(QStringLiteral("to")));
            if (!from || !to || id < 0 || where.count(id)) return bad();
            where[id] = {true, contents.moves.size()};
            contents.moves.push_back({id, MoveRecord{*from, *to}, State::pending});
        } else if (op == QLatin1String("write")) {
            const auto path = decodePath(object.value(QStringLiteral("path")));
            const QByteArray hash = object.value(QStringLiteral("sha256")).toString().toLatin1();
            if (!path || hash.size() != 64 || id < 0 || where.count(id)) return bad();
            where[id] = {false, contents.writes.size()};
            contents.writes.push_back(
                {id, *path, hash, object.value(QStringLiteral("replaced")).toBool(), State::pending});
        } else {
            static const std::map<QString, State> kOutcomes{{QStringLiteral("done"), State::done},
                                                            {QStringLiteral("failed"), State::failed},
                                                            {QStringLiteral("undone"), State::undone},
                                                            {QStringLiteral("dropped"), State::dropped}};
            const auto outcome = kOutcomes.find(op);
            if (outcome == kOutcomes.end() || !where.count(id)) return bad();
            outcomes.emplace_back(id, outcome->second);
        }
    }
    for (const auto& [id, state] : outcomes) {
        const auto [isMove, index] = where.at(id);
        (isMove ? contents.moves[index].state : contents.writes[index].state) = state;
    }
    return contents;
}

std::vector<fs::path> journalsOf(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(directoryFor(folder), ec), end; !ec && it != end; it.increment(ec))
        if (isJournalName(it->path())) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    return files;
}

// ---- Undo ----

namespace {

bool hasUndoableMoves(const Contents& contents) {
    return std::any_of(contents.moves.begin(), contents.moves.end(), [](const Contents::Move& move) {
        return move.state == State::done || move.state == State::pending;
    });
}

bool isKind(const fs::path& file, Kind kind) {
    const std::string suffix = "-" + kindName(kind).toStdString() + ".jsonl";
    const std::string name = file.filename().native();
    return name.size() > suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

/// Removes the label files the run wrote that nobody changed since, then the folders it created
/// that are empty now.
void removeRunOutputs(const Contents& contents, const core::Log& log) {
    for (auto it = contents.writes.rbegin(); it != contents.writes.rend(); ++it) {
        if (it->replaced || it->state == State::failed || !platform::itemExists(it->file)) continue;
        const QString name = core::displayName(it->file);
        if (fileSha256(it->file) == it->sha256) {
            std::error_code ec;
            if (fs::remove(it->file, ec))
                log(QStringLiteral("  [删除] %1（整理时写入的标签文件）").arg(name));
        } else {
            log(QStringLiteral("  [保留] %1（整理后已改动）").arg(name));
        }
    }
    for (auto it = contents.createdFolders.rbegin(); it != contents.createdFolders.rend(); ++it) {
        // A label file write that a kill interrupted leaves a temporary of ours behind.
        platform::removeStaleTemporaries(*it);
        std::error_code ec;
        if (isEmptyDirectory(*it) && fs::remove(*it, ec))
            log(QStringLiteral("  [删除] %1/（空文件夹）").arg(core::displayName(*it)));
    }
}

} // namespace

core::Result<PendingUndo> prepareUndo(Kind kind, const fs::path& folder) {
    const QString nothing = kind == Kind::refine ? kNoRefineJournal : kNoOrganizeJournal;
    const std::vector<fs::path> journals = journalsOf(folder);
    const auto newest =
        std::find_if(journals.rbegin(), journals.rend(), [&](const fs::path& f) { return isKind(f, kind); });
    if (newest == journals.rend()) return core::Error{nothing};

    PendingUndo pending;
    pending.file = *newest;
    auto contents = read(pending.file);
    if (!contents) return contents.error();
    if (contents->kind != kind)
        return core::Error{kUnreadable.arg(core::displayName(pending.file), QStringLiteral("记录种类不符"))};
    if (contents->root != folderIdentity(folder))
        return core::Error{kForeign.arg(core::displayPath(contents->root))};

    if (kind == Kind::organize)
        // A refinement after the run moved files between its folders; those must go back first.
        for (auto later = newest.base(); later != journals.end(); ++later) {
            if (!isKind(*later, Kind::refine)) continue;
            const auto refined = read(*later);
            if (refined && refined->root == contents->root && hasUndoableMoves(*refined))
                return core::Error{kRefinedAfterOrganize};
        }

    for (const Contents::Move& move : contents->moves) {
        if (move.state == State::pending && !platform::itemExists(move.record.toPath) &&
            platform::itemExists(move.record.fromPath)) {
            // Announced, but the run was stopped before the move happened.
            pending.neverMoved.push_back(move.id);
            continue;
        }
        if (move.state != State::done && move.state != State::pending) continue;
        pending.records.push_back(move.record);
        pending.ids.push_back(move.id);
    }
    const bool outputsLeft =
        kind == Kind::organize &&
        (std::any_of(
             contents->writes.begin(), contents->writes.end(),
             [](const Contents::Written& w) { return !w.replaced && platform::itemExists(w.file); }) ||
         std::any_of(contents->createdFolders.begin(), contents->createdFolders.end(), isEmptyDirectory));
    if (pending.records.empty() && !outputsLeft) return core::Error{nothing};
    pending.contents = std::move(*contents);
    return pending;
}

FeaturePrintRefiner::UndoResult runUndo(const PendingUndo& pending, const core::RunContext& context) {
    const core::Log& log = context.log;
    auto writer = Writer::openExisting(pending.file);
    if (!writer) {
        // Undoing without writing the outcomes down would make a retry report restored files as gone.
        FeaturePrintRefiner::UndoResult refused;
        refused.remaining = pending.records;
        refused.errors << kUnreadable.arg(core::displayName(pending.file), writer.error().description());
        log(QStringLiteral("[失败] ") + refused.errors.front());
        return refused;
    }
    for (const qint64 id : pending.neverMoved)
        (*writer)->finished(id, false);
    auto result = FeaturePrintRefiner::undoMoves(
        pending.records, log,
        [&](size_t index, FeaturePrintRefiner::UndoOutcome outcome) {
            if (outcome == FeaturePrintRefiner::UndoOutcome::restored) (*writer)->undone(pending.ids[index]);
            if (outcome == FeaturePrintRefiner::UndoOutcome::dropped) (*writer)->dropped(pending.ids[index]);
        },
        [&] { return context.cancelled(); });
    // With files still in the exhibit folders, their label files stay beside them for the retry.
    if (pending.contents.kind == Kind::organize && result.remaining.empty() && !result.cancelled)
        removeRunOutputs(pending.contents, log);
    if (const auto& error = (*writer)->error()) log(QStringLiteral("[警告] ") + *error);
    return result;
}

core::Result<FeaturePrintRefiner::UndoResult> undoLatest(Kind kind, const fs::path& folder,
                                                         const core::Log& log) {
    const auto pending = prepareUndo(kind, folder);
    if (!pending) return pending.error();
    auto result = runUndo(*pending, core::logOnly(log));
    log(FeaturePrintRefiner::undoSummaryLine(result));
    return result;
}

} // namespace MoveJournal
