#include "refine/MoveJournal.h"

#include "core/Text.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstring>
#include <map>

namespace MoveJournal {

namespace fs = std::filesystem;
using FeaturePrintRefiner::MoveRecord;
using State = Contents::State;

namespace {

/// The largest file whose content is kept before it is replaced.
constexpr qint64 kLargestKeptContent = 16 * 1024 * 1024;

const std::pair<Kind, const char*> kKinds[] = {
    {Kind::organize, "organize"}, {Kind::refine, "refine"}, {Kind::name, "name"}, {Kind::ocr, "ocr"}};

QByteArray bytesOf(const fs::path& path) {
    return QByteArray(path.native().data(), qsizetype(path.native().size()));
}

QJsonObject base64(const QByteArray& bytes) {
    return QJsonObject{{QStringLiteral("base64"), QString::fromLatin1(bytes.toBase64())}};
}

std::optional<QByteArray> fromBase64(const QJsonValue& value) {
    if (!value.isObject() || !value.toObject().value(QStringLiteral("base64")).isString())
        return std::nullopt;
    return QByteArray::fromBase64(value.toObject().value(QStringLiteral("base64")).toString().toLatin1());
}

QJsonValue encodePath(const fs::path& path) {
    const QByteArray bytes = bytesOf(path);
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes) return text;
    return base64(bytes);
}

std::optional<fs::path> decodePath(const QJsonValue& value) {
    QByteArray bytes;
    if (value.isString())
        bytes = value.toString().toUtf8();
    else if (const auto decoded = fromBase64(value))
        bytes = *decoded;
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

/// The path as it is written down: absolute, its folder with symbolic links resolved, the name
/// itself untouched (a link is recorded as the link).
fs::path recorded(const fs::path& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec).lexically_normal();
    if (absolute.filename().empty() || !absolute.has_parent_path()) return absolute;
    return folderIdentity(absolute.parent_path()) / absolute.filename();
}

/// Whether `path` lies inside `root` (not the root itself), compared component by component.
bool isInside(const fs::path& path, const fs::path& root) {
    const fs::path normal = path.lexically_normal();
    auto p = normal.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++p) {
        if (r->empty()) continue; // a trailing separator
        if (p == normal.end() || *p != *r) return false;
    }
    for (; p != normal.end(); ++p)
        if (*p == "..")
            return false;
        else if (!p->empty() && *p != ".")
            return true;
    return false;
}

bool isAtOrInside(const fs::path& path, const fs::path& root) {
    return path.lexically_normal() == root || isInside(path, root);
}

/// Inside the shoot as written, and still inside once the links on the way are resolved now.
bool staysInside(const fs::path& path, const fs::path& root) {
    return isInside(path, root) && isInside(recorded(path), root);
}

/// `path` with its leading `from` replaced by `to`; nothing when it does not start with `from`.
std::optional<fs::path> rebased(const fs::path& path, const fs::path& from, const fs::path& to) {
    if (path == from) return to;
    if (!isInside(path, from)) return std::nullopt;
    return to / path.lexically_relative(from);
}

} // namespace

QString kindName(Kind kind) {
    for (const auto& [k, name] : kKinds)
        if (k == kind) return QString::fromLatin1(name);
    return {};
}

QString kindTitle(Kind kind) {
    switch (kind) {
    case Kind::organize:
        return QStringLiteral("整理");
    case Kind::refine:
        return QStringLiteral("FeaturePrint 后处理");
    case Kind::name:
        return QStringLiteral("命名");
    case Kind::ocr:
        return QStringLiteral("AI OCR");
    }
    return {};
}

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

std::optional<QString> checkWritable() {
    const fs::path dir = core::toPath(journalsDirectory());
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return kWriteFailed.arg(QString::fromLocal8Bit(ec.message().c_str()));
    if (const auto error = platform::checkFolderTakesWrites(dir, 4096))
        return kWriteFailed.arg(systemReason(*error));
    return std::nullopt;
}

std::optional<fs::path> historyRootFor(const fs::path& path) {
    std::error_code ec;
    fs::path at = folderIdentity(path);
    for (;;) {
        if (fs::is_directory(directoryFor(at), ec) && !operationsOf(at).empty()) return at;
        if (!at.has_parent_path() || at.parent_path() == at) return std::nullopt;
        at = at.parent_path();
    }
}

fs::path rootForChangeAt(const fs::path& start, const fs::path& fallback) {
    if (auto root = historyRootFor(start)) return *root;
    return folderIdentity(fallback);
}

// ---- Writer ----

Writer::Writer(platform::AppendOnlyFile out, fs::path file, qint64 nextId, bool appending)
    : m_out(std::move(out)), m_file(std::move(file)), m_nextId(nextId), m_appending(appending) {}

Writer::~Writer() {
    m_out = {};
    if (m_appending) return;
    std::error_code ec;
    if (!m_hasSteps)
        fs::remove(m_file, ec);
    else
        prune(m_file.parent_path());
}

core::Result<std::unique_ptr<Writer>> Writer::create(Kind kind, const fs::path& root, const QDateTime& now,
                                                     const fs::path& subject) {
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
        int error = 0;
        platform::AppendOnlyFile out = platform::AppendOnlyFile::createNew(file, error);
        if (error == EEXIST) continue;
        if (error) return core::Error{kWriteFailed.arg(systemReason(error))};
        // Until it holds a step, the file goes away with the writer: it never hides an older one.
        std::unique_ptr<Writer> writer(new Writer(std::move(out), file, 1, false));
        QJsonObject header{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("version"), kVersion},
                           {QStringLiteral("kind"), kindName(kind)},
                           {QStringLiteral("root"), encodePath(folderIdentity(root))},
                           {QStringLiteral("started"), now.toString(Qt::ISODateWithMs)}};
        if (!subject.empty()) header.insert(QStringLiteral("subject"), encodePath(recorded(subject)));
        if (!writer->append(line(header))) return core::Error{*writer->error()};
        return writer;
    }
    return core::Error{kWriteFailed.arg(QStringLiteral("文件名已用尽"))};
}

core::Result<std::unique_ptr<Writer>> Writer::openExisting(const fs::path& file) {
    // A line cut off by a kill is dropped before anything is added: written after it, the next
    // line would join it, and the whole journal would read as damaged.
    QFile existing(QFile::decodeName(file.c_str()));
    if (existing.open(QIODevice::ReadWrite) && !existing.isSequential()) {
        const QByteArray bytes = existing.readAll();
        if (!bytes.isEmpty() && !bytes.endsWith('\n') && !existing.resize(bytes.lastIndexOf('\n') + 1))
            return core::Error{kWriteFailed.arg(existing.errorString())};
    }
    int error = 0;
    platform::AppendOnlyFile out = platform::AppendOnlyFile::openExisting(file, error);
    if (error) return core::Error{kWriteFailed.arg(systemReason(error))};
    return std::unique_ptr<Writer>(new Writer(std::move(out), file, 0, true));
}

bool Writer::append(const QByteArray& text) {
    if (!m_out.isOpen() || m_error) return false;
    // One write() per line: a killed process leaves whole lines and at most one cut-off tail.
    if (const auto error = m_out.append(text)) {
        m_error = kWriteFailed.arg(systemReason(*error));
        if (m_stop) m_stop->cancel();
        return false;
    }
    return true;
}

bool Writer::step(const QByteArray& text) {
    if (!append(text)) return false;
    m_hasSteps = true;
    return true;
}

std::optional<qint64> Writer::willMove(const fs::path& from, const fs::path& to) {
    const qint64 id = m_nextId++;
    if (!step(line({{QStringLiteral("op"), QStringLiteral("move")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("from"), encodePath(recorded(from))},
                    {QStringLiteral("to"), encodePath(recorded(to))}})))
        return std::nullopt;
    return id;
}

std::optional<qint64> Writer::willMoveFolder(const fs::path& from, const fs::path& to) {
    const qint64 id = m_nextId++;
    if (!step(line({{QStringLiteral("op"), QStringLiteral("move")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("from"), encodePath(recorded(from))},
                    {QStringLiteral("to"), encodePath(recorded(to))},
                    {QStringLiteral("folder"), true}})))
        return std::nullopt;
    return id;
}

std::optional<qint64> Writer::willWrite(const fs::path& file, const QByteArray& bytes) {
    const qint64 id = m_nextId++;
    QJsonObject object{{QStringLiteral("op"), QStringLiteral("write")},
                       {QStringLiteral("id"), id},
                       {QStringLiteral("path"), encodePath(recorded(file))},
                       {QStringLiteral("sha256"), QString::fromLatin1(sha256Hex(bytes))},
                       {QStringLiteral("replaced"), platform::itemExists(file)}};
    if (platform::itemExists(file)) {
        // What is replaced must come back on undo: without its content, nothing is written.
        QFile in(QFile::decodeName(file.c_str()));
        if (in.size() > kLargestKeptContent || !in.open(QIODevice::ReadOnly)) {
            m_error = kWriteFailed.arg(in.size() > kLargestKeptContent ? QStringLiteral("原文件过大")
                                                                       : in.errorString());
            if (m_stop) m_stop->cancel();
            return std::nullopt;
        }
        object.insert(QStringLiteral("previous"), base64(in.readAll()));
    }
    if (!step(line(object))) return std::nullopt;
    return id;
}

std::optional<qint64> Writer::willSetAttribute(const fs::path& file, const std::string& name) {
    const qint64 id = m_nextId++;
    const auto previous = platform::attribute(file, name);
    if (!step(line({{QStringLiteral("op"), QStringLiteral("attr")},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("path"), encodePath(recorded(file))},
                    {QStringLiteral("name"), QString::fromStdString(name)},
                    {QStringLiteral("previous"), previous ? QJsonValue(base64(*previous)) : QJsonValue()}})))
        return std::nullopt;
    return id;
}

void Writer::finished(qint64 id, bool succeeded) {
    append(line({{QStringLiteral("op"), succeeded ? QStringLiteral("done") : QStringLiteral("failed")},
                 {QStringLiteral("id"), id}}));
}

bool Writer::willCreateFolder(const fs::path& folder) {
    return step(line({{QStringLiteral("op"), QStringLiteral("mkdir")},
                      {QStringLiteral("path"), encodePath(recorded(folder))}}));
}

void Writer::undone(qint64 id) {
    append(line({{QStringLiteral("op"), QStringLiteral("undone")}, {QStringLiteral("id"), id}}));
}

void Writer::dropped(qint64 id) {
    append(line({{QStringLiteral("op"), QStringLiteral("dropped")}, {QStringLiteral("id"), id}}));
}

void Writer::closed() {
    append(line({{QStringLiteral("op"), QStringLiteral("closed")}}));
}

// ---- LazyWriter ----

Writer* LazyWriter::writer() {
    if (!m_writer && !m_startError) {
        auto created = Writer::create(m_kind, m_root, QDateTime::currentDateTime(), m_subject);
        if (created) {
            m_writer = std::move(created.value());
            if (m_stop) m_writer->stopOnFailure(*m_stop);
        } else {
            m_startError = created.error().description();
            if (m_stop) m_stop->cancel();
        }
    }
    return m_writer.get();
}

std::optional<qint64> LazyWriter::willMove(const fs::path& from, const fs::path& to) {
    Writer* w = writer();
    return w ? w->willMove(from, to) : std::nullopt;
}

std::optional<qint64> LazyWriter::willMoveFolder(const fs::path& from, const fs::path& to) {
    Writer* w = writer();
    return w ? w->willMoveFolder(from, to) : std::nullopt;
}

std::optional<qint64> LazyWriter::willWrite(const fs::path& file, const QByteArray& bytes) {
    Writer* w = writer();
    return w ? w->willWrite(file, bytes) : std::nullopt;
}

std::optional<qint64> LazyWriter::willSetAttribute(const fs::path& file, const std::string& name) {
    Writer* w = writer();
    return w ? w->willSetAttribute(file, name) : std::nullopt;
}

void LazyWriter::finished(qint64 id, bool succeeded) {
    if (m_writer) m_writer->finished(id, succeeded);
}

bool LazyWriter::willCreateFolder(const fs::path& folder) {
    Writer* w = writer();
    return w && w->willCreateFolder(folder);
}

std::optional<QString> LazyWriter::error() const {
    if (m_startError) return m_startError;
    return m_writer ? m_writer->error() : std::nullopt;
}

// ---- Reading ----

bool Contents::hasSteps() const {
    return !moves.empty() || !writes.empty() || !attributes.empty() || !createdFolders.empty();
}

int Contents::fileCount() const {
    return int(std::count_if(moves.begin(), moves.end(), [](const Move& m) { return !m.folder; }) +
               writes.size());
}

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
    if (version != 1 && version != kVersion)
        return unreadable(QStringLiteral("版本 %1 不受支持").arg(version));
    const QString kind = header.value(QStringLiteral("kind")).toString();
    const auto known = std::find_if(std::begin(kKinds), std::end(kKinds), [&](const auto& k) {
        return kind == QLatin1String(k.second) &&
               (version > 1 || k.first == Kind::organize || k.first == Kind::refine);
    });
    if (known == std::end(kKinds)) return unreadable(QStringLiteral("未知的记录种类"));
    contents.kind = known->first;
    const auto root = decodePath(header.value(QStringLiteral("root")));
    if (!root) return unreadable(QStringLiteral("缺少文件夹"));
    contents.root = *root;
    if (const auto subject = decodePath(header.value(QStringLiteral("subject")))) contents.subject = *subject;
    contents.started =
        QDateTime::fromString(header.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);

    // Outcomes are applied after reading: the vectors grow while lines come in.
    enum class Step { move, write, attr };
    std::map<qint64, std::pair<Step, size_t>> where;
    std::vector<std::pair<qint64, State>> outcomes;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const auto bad = [&] { return unreadable(QStringLiteral("第 %1 行无法解析").arg(n + 1)); };
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(lines[n], &error);
        if (!doc.isObject()) return bad();
        const QJsonObject object = doc.object();
        const QString op = object.value(QStringLiteral("op")).toString();
        const qint64 id = object.value(QStringLiteral("id")).toInteger(-1);
        const size_t order = size_t(n);
        if (op == QLatin1String("mkdir")) {
            const auto path = decodePath(object.value(QStringLiteral("path")));
            if (!path) return bad();
            contents.createdFolders.push_back(*path);
            contents.createdOrder.push_back(order);
        } else if (op == QLatin1String("move")) {
            const auto from = decodePath(object.value(QStringLiteral("from")));
            const auto to = decodePath(object.value(QStringLiteral("to")));
            if (!from || !to || id < 0 || where.count(id)) return bad();
            where[id] = {Step::move, contents.moves.size()};
            contents.moves.push_back({id, MoveRecord{*from, *to}, State::pending,
                                      object.value(QStringLiteral("folder")).toBool(), order});
        } else if (op == QLatin1String("write")) {
            const auto path = decodePath(object.value(QStringLiteral("path")));
            const QByteArray hash = object.value(QStringLiteral("sha256")).toString().toLatin1();
            if (!path || hash.size() != 64 || id < 0 || where.count(id)) return bad();
            where[id] = {Step::write, contents.writes.size()};
            contents.writes.push_back({id, *path, hash, object.value(QStringLiteral("replaced")).toBool(),
                                       State::pending, fromBase64(object.value(QStringLiteral("previous"))),
                                       order});
        } else if (op == QLatin1String("attr") && version > 1) {
            const auto path = decodePath(object.value(QStringLiteral("path")));
            const QString attribute = object.value(QStringLiteral("name")).toString();
            if (!path || attribute.isEmpty() || id < 0 || where.count(id)) return bad();
            where[id] = {Step::attr, contents.attributes.size()};
            contents.attributes.push_back({id, *path, attribute.toStdString(),
                                           fromBase64(object.value(QStringLiteral("previous"))),
                                           State::pending, order});
        } else if (op == QLatin1String("closed") && version > 1) {
            contents.closed = true;
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
        const auto [step, index] = where.at(id);
        if (step == Step::move) contents.moves[index].state = state;
        if (step == Step::write) contents.writes[index].state = state;
        if (step == Step::attr) contents.attributes[index].state = state;
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

// ---- The history of a shoot ----

namespace {

bool undoableMove(const Contents::Move& move) {
    return move.state == State::done || move.state == State::pending;
}

/// Announced, but the run was stopped before the move happened.
bool neverHappened(const Contents::Move& move) {
    return move.state == State::pending && !platform::itemExists(move.record.toPath) &&
           platform::itemExists(move.record.fromPath);
}

/// Something is left to undo: a move not yet put back, a file written and not yet put back, an
/// attribute set, a created folder that is still there and empty.
bool isUndoable(const Contents& contents) {
    if (contents.closed) return false;
    if (std::any_of(contents.moves.begin(), contents.moves.end(),
                    [](const Contents::Move& m) { return undoableMove(m) && !neverHappened(m); }))
        return true;
    const bool writesLeft =
        std::any_of(contents.writes.begin(), contents.writes.end(), [](const Contents::Written& w) {
            if (w.state == State::undone || w.state == State::dropped || w.state == State::failed)
                return false;
            return w.replaced ? bool(w.previous) : platform::itemExists(w.file);
        });
    const bool attributesLeft =
        std::any_of(contents.attributes.begin(), contents.attributes.end(),
                    [](const Contents::Attribute& a) { return a.state == State::pending; });
    return writesLeft || attributesLeft ||
           std::any_of(contents.createdFolders.begin(), contents.createdFolders.end(), isEmptyDirectory);
}

/// The paths an operation's steps name, each with its step position, as written down.
struct Touched {
    fs::path path;
    size_t order;
    bool folder; ///< the path is a folder the step works on (not a file in it)
};

std::vector<Touched> touchedBy(const Contents& contents) {
    std::vector<Touched> touched;
    for (const auto& move : contents.moves) {
        touched.push_back({move.record.fromPath, move.order, move.folder});
        touched.push_back({move.record.toPath, move.order, move.folder});
    }
    for (const auto& write : contents.writes)
        touched.push_back({write.file, write.order, false});
    for (const auto& attribute : contents.attributes)
        touched.push_back({attribute.file, attribute.order, false});
    for (size_t i = 0; i < contents.createdFolders.size(); ++i)
        touched.push_back({contents.createdFolders[i],
                           i < contents.createdOrder.size() ? contents.createdOrder[i] : 0, true});
    return touched;
}

/// A path written down by operation `index` at step `order`, as it is called now: the folders
/// renamed later on (by the same operation, then by the later ones still standing) carry it along.
fs::path asNow(fs::path path, const std::vector<Operation>& operations, size_t index, size_t order) {
    for (size_t i = index; i < operations.size(); ++i) {
        const auto& contents = operations[i].contents;
        if (!contents || !operations[i].undoable) continue;
        for (const auto& move : contents->moves)
            if (move.folder && undoableMove(move) && (i > index || move.order > order))
                if (auto moved = rebased(path, move.record.fromPath, move.record.toPath)) path = *moved;
    }
    return path;
}

/// The folders an operation changed something in, as they are called now.
std::vector<fs::path> foldersOf(const std::vector<Operation>& operations, size_t index) {
    std::vector<fs::path> folders;
    for (const Touched& t : touchedBy(*operations[index].contents))
        folders.push_back(asNow(t.folder ? t.path : t.path.parent_path(), operations, index, t.order));
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    return folders;
}

/// The later operations, still standing, that changed something in a folder the operation at
/// `index` changed: they must be undone first.
std::vector<size_t> laterInTheWay(const std::vector<Operation>& operations, size_t index) {
    const auto mine = foldersOf(operations, index);
    std::vector<size_t> later;
    for (size_t j = index + 1; j < operations.size(); ++j) {
        if (!operations[j].contents || !operations[j].undoable) continue;
        const auto theirs = foldersOf(operations, j);
        if (std::any_of(theirs.begin(), theirs.end(),
                        [&](const fs::path& f) { return std::binary_search(mine.begin(), mine.end(), f); }))
            later.push_back(j);
    }
    return later;
}

/// Checks an operation before anything moves: its own shoot, no path outside it, nothing later in
/// its way; then what is left to undo.
core::Result<PendingUndo> checked(const std::vector<Operation>& operations, size_t index,
                                  const fs::path& root) {
    const Operation& operation = operations[index];
    if (!operation.contents) return core::Error{operation.problem};
    const Contents& contents = *operation.contents;
    if (contents.root != root) return core::Error{kForeign.arg(core::displayPath(contents.root))};
    for (const Touched& t : touchedBy(contents))
        if (!staysInside(t.path, root)) return core::Error{kOutside.arg(core::displayPath(t.path))};

    const auto later = laterInTheWay(operations, index);
    if (!later.empty()) {
        const bool onlyRefinements = std::all_of(later.begin(), later.end(), [&](size_t j) {
            return operations[j].contents->kind == Kind::refine;
        });
        if (contents.kind == Kind::organize && onlyRefinements) return core::Error{kRefinedAfterOrganize};
        QStringList names;
        for (size_t j : later)
            names << describe(*operations[j].contents, root);
        return core::Error{kLaterOperations.arg(describe(contents, root), names.join(QStringLiteral("；")),
                                                core::displayPath(root))};
    }

    PendingUndo pending;
    pending.file = operation.file;
    for (const Contents::Move& move : contents.moves) {
        if (neverHappened(move)) {
            pending.neverMoved.push_back(move.id);
            continue;
        }
        if (!undoableMove(move)) continue;
        pending.records.push_back(move.record);
        pending.ids.push_back(move.id);
    }
    pending.contents = contents;
    return pending;
}

QString nothingLeft(Kind kind) {
    return kind == Kind::refine ? kNoRefineJournal : kNoOrganizeJournal;
}

} // namespace

std::vector<Operation> operationsOf(const fs::path& root) {
    std::vector<Operation> operations;
    for (const fs::path& file : journalsOf(root)) {
        Operation operation;
        operation.file = file;
        auto contents = read(file);
        if (!contents) {
            // A file with no step in it (a run that could not write one) hides nothing.
            QFile in(QFile::decodeName(file.c_str()));
            if (in.size() == 0 || (in.open(QIODevice::ReadOnly) && !in.readAll().contains('\n'))) continue;
            operation.problem = contents.error().description();
        } else {
            if (!contents->hasSteps()) continue;
            operation.undoable = isUndoable(*contents);
            operation.contents = std::move(*contents);
        }
        operations.push_back(std::move(operation));
    }
    return operations;
}

QString describe(const Contents& contents, const fs::path& root) {
    QString text = contents.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char(' ') +
                   kindTitle(contents.kind);
    if (!contents.subject.empty() && contents.subject != root) {
        const fs::path relative = contents.subject.lexically_relative(root);
        text += QLatin1Char(' ') + core::displayPath(relative.empty() ? contents.subject : relative);
    }
    return text;
}

core::Result<PendingUndo> prepareUndo(Kind kind, const fs::path& folder) {
    const fs::path root = folderIdentity(folder);
    const std::vector<Operation> operations = operationsOf(root);
    for (size_t i = operations.size(); i-- > 0;) {
        const Operation& operation = operations[i];
        // A journal that cannot be read is reported when it may be the one asked for.
        if (!operation.contents) {
            if (operation.file.filename().native().find("-" + kindName(kind).toStdString() + ".") !=
                std::string::npos)
                return core::Error{operation.problem};
            continue;
        }
        if (operation.contents->kind != kind) continue;
        if (!operation.undoable) return core::Error{nothingLeft(kind)};
        return checked(operations, i, root);
    }
    return core::Error{nothingLeft(kind)};
}

core::Result<PendingUndo> prepareUndoAt(const fs::path& path) {
    const auto root = historyRootFor(path);
    if (!root) return core::Error{kNothingToUndo};
    const fs::path asked = folderIdentity(path);
    const std::vector<Operation> operations = operationsOf(*root);
    for (size_t i = operations.size(); i-- > 0;) {
        const Operation& operation = operations[i];
        if (!operation.contents) {
            if (asked == *root) return core::Error{operation.problem};
            continue;
        }
        if (!operation.undoable) continue;
        const auto touched = touchedBy(*operation.contents);
        const bool here =
            asked == *root || std::any_of(touched.begin(), touched.end(), [&](const Touched& t) {
                return isAtOrInside(asNow(t.path, operations, i, t.order), asked);
            });
        if (here) return checked(operations, i, *root);
    }
    return core::Error{kNothingToUndo};
}

// ---- Undo ----

namespace {

/// Where a path written down at step `order` is once every move of the operation is put back:
/// the moves before the step are undone, last first.
fs::path beforeMoves(fs::path path, const Contents& contents, size_t order) {
    for (auto it = contents.moves.rbegin(); it != contents.moves.rend(); ++it)
        if (it->order < order)
            if (auto back = rebased(path, it->record.toPath, it->record.fromPath)) path = *back;
    return path;
}

QString writtenBy(Kind kind) {
    switch (kind) {
    case Kind::organize:
        return QStringLiteral("整理时写入的标签文件");
    case Kind::name:
        return QStringLiteral("命名时写入的标签文件");
    case Kind::ocr:
        return QStringLiteral("OCR 写入的文本文件");
    case Kind::refine:
        break;
    }
    return QStringLiteral("写入的文件");
}

/// Puts back what the operation wrote and set, newest first, then removes the folders it created
/// that are empty now. A file changed since is kept as it is.
void undoOutputs(const Contents& contents, Writer& journal, const core::Log& log, QStringList& errors) {
    struct Step {
        size_t order;
        const Contents::Written* write;
        const Contents::Attribute* attribute;
    };
    std::vector<Step> steps;
    for (const auto& write : contents.writes)
        steps.push_back({write.order, &write, nullptr});
    for (const auto& attribute : contents.attributes)
        steps.push_back({attribute.order, nullptr, &attribute});
    std::sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.order > b.order; });

    for (const Step& step : steps) {
        if (const auto* a = step.attribute) {
            if (a->state != State::pending) continue;
            const fs::path file = beforeMoves(a->file, contents, a->order);
            if (!platform::itemExists(file)) continue;
            const int result = a->previous ? platform::setAttribute(file, a->name, *a->previous)
                                           : platform::removeAttribute(file, a->name);
            if (result == 0) journal.undone(a->id);
            continue;
        }
        const auto* w = step.write;
        if (w->state == State::failed || w->state == State::undone || w->state == State::dropped) continue;
        const fs::path file = beforeMoves(w->file, contents, w->order);
        const QString name = core::displayName(file);
        if (!platform::itemExists(file) && !w->replaced) continue;
        if (platform::itemExists(file) && fileSha256(file) != w->sha256) {
            log(QStringLiteral("  [保留] %1（%2后已改动）")
                    .arg(name,
                         contents.kind == Kind::organize ? QStringLiteral("整理") : QStringLiteral("写入")));
            journal.dropped(w->id);
            continue;
        }
        if (w->replaced && w->previous) {
            if (const auto error = platform::writeFileAtomically(file, *w->previous)) {
                const QString message = QStringLiteral("恢复失败 %1：%2").arg(name, systemReason(*error));
                log(core::failure(message));
                errors << message;
                continue;
            }
            log(QStringLiteral("  [恢复] %1（替换前的内容）").arg(name));
            journal.undone(w->id);
        } else if (!w->replaced) {
            std::error_code ec;
            if (fs::remove(file, ec)) {
                log(QStringLiteral("  [删除] %1（%2）").arg(name, writtenBy(contents.kind)));
                journal.undone(w->id);
            }
        }
    }
    for (size_t i = contents.createdFolders.size(); i-- > 0;) {
        const fs::path& folder = contents.createdFolders[i];
        // A label file write that a kill interrupted leaves a temporary of ours behind.
        platform::removeStaleTemporaries(folder);
        std::error_code ec;
        if (isEmptyDirectory(folder) && fs::remove(folder, ec))
            log(QStringLiteral("  [删除] %1/（空文件夹）").arg(core::displayName(folder)));
    }
}

} // namespace

FeaturePrintRefiner::UndoResult runUndo(const PendingUndo& pending, const core::RunContext& context) {
    const core::Log& log = context.log;
    auto writer = Writer::openExisting(pending.file);
    if (!writer) {
        // Undoing without writing the outcomes down would make a retry report restored files as gone.
        FeaturePrintRefiner::UndoResult refused;
        refused.remaining = pending.records;
        refused.errors << kUnreadable.arg(core::displayName(pending.file), writer.error().description());
        log(core::failure(refused.errors.front()));
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
    if (result.remaining.empty() && !result.cancelled) {
        const qsizetype before = result.errors.size();
        undoOutputs(pending.contents, **writer, log, result.errors);
        if (result.errors.size() == before) (*writer)->closed();
    }
    if (const auto& error = (*writer)->error()) log(core::warning(*error));
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
