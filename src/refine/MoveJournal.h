#pragma once

// The shoot's history: a written record of every change an operation makes to a folder (an
// organize run, a refinement pass, naming an exhibit folder, AI OCR), so that each can be undone
// later, newest first, from another process, even when the operation itself was killed.
//
// Where: {user data}/Vitrino/Journals/{key}/, {key} being the first 16 hex digits of the SHA-256
// of the shoot's absolute path (symbolic links resolved). One file per operation, named
// "{yyyyMMdd-HHmmss-zzz}-{nn}-{kind}.jsonl" so that name order is start order; the newest twenty
// per shoot are kept. Operations that changed nothing leave no file.
//
// Format (JSON Lines, UTF-8, one object per line, appended as the operation goes):
//   {"format":"vitrino-move-journal","version":2,"kind":"organize"|"refine"|"name"|"ocr",
//    "root":"/abs/shoot","started":"2026-12-07T03:30:00.123","subject":P}   first line, always
//   {"op":"mkdir","path":P}                   a folder about to be created (it did not exist)
//   {"op":"write","id":N,"path":P,"sha256":H,"replaced":false}
//                                             a file about to be written, with the hash of its
//                                             content; "replaced": a file was there before, whose
//                                             content follows as "previous":{"base64":…}
//   {"op":"attr","id":N,"path":P,"name":S,"previous":{"base64":…}|null}
//                                             an extended attribute about to be set
//   {"op":"move","id":N,"from":P,"to":P}      a move about to happen ("folder":true for a folder)
//   {"op":"done","id":N} / {"op":"failed","id":N}            the outcome of step N
//   {"op":"undone","id":N} / {"op":"dropped","id":N}         written by an undo: N was put back
//                                             / is gone for good; neither is tried again
//   {"op":"closed"}                           written by an undo that finished: nothing is left
// A path P is a JSON string when its bytes are UTF-8, else {"base64":"…"} of its bytes. Paths are
// absolute, their folders with symbolic links resolved. Version 1 files (organize and refine
// only) are read as they were written.
// Each line is written with one write() before the step it announces, so a killed run leaves
// at most a half-written last line (ignored when reading); a move without an outcome is
// decided at undo time by looking at the disk. An undo touches nothing outside the shoot.

#include "core/Log.h"
#include "core/Progress.h"
#include "core/Result.h"
#include "organize/AutoOrganizer.h"
#include "platform/FileSystem.h"
#include "refine/FeaturePrintRefiner.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace MoveJournal {

enum class Kind { organize, refine, name, ocr };

inline constexpr int kVersion = 2;
inline constexpr int kKeptPerFolder = 20;
inline const QString kFormat = QStringLiteral("vitrino-move-journal");

inline const QString kNoRefineJournal = QStringLiteral("没有可撤销的后处理记录");
inline const QString kNoOrganizeJournal = QStringLiteral("没有可撤销的整理记录");
inline const QString kNothingToUndo = QStringLiteral("没有可撤销的操作");
inline const QString kUnreadable = QStringLiteral("撤销记录无法读取（%1）：%2，未移动任何文件");
inline const QString kForeign = QStringLiteral("撤销记录属于另一个文件夹（%1），未移动任何文件");
inline const QString kOutside = QStringLiteral("撤销记录指向文件夹之外（%1），未移动任何文件");
inline const QString kRefinedAfterOrganize =
    QStringLiteral("此文件夹整理之后还做过 FeaturePrint 后处理，请先撤销后处理，未移动任何文件");
/// {what was to be undone}, {the operations in the way}, {the shoot}.
inline const QString kLaterOperations =
    QStringLiteral("%1之后还做过：%2。请先撤销这些操作（vitrino-cli undo %3），未移动任何文件");
inline const QString kWriteFailed = QStringLiteral("撤销记录写入失败：%1");
/// {the journal's error}: a run stopped because its history could not be written.
inline const QString kStoppedForJournal = QStringLiteral("%1，已停止，其余文件保持原位");

/// "organize", "refine", "name", "ocr": the word in file names and headers.
QString kindName(Kind kind);
/// "整理", "后处理", "命名", "OCR": the word shown to the user.
QString kindTitle(Kind kind);

/// The journals folder of all folders ("Vitrino/Journals" in the user's data folder).
QString journalsDirectory();
/// The absolute path a folder is known by (symbolic links resolved).
std::filesystem::path folderIdentity(const std::filesystem::path& folder);
/// The folder holding `folder`'s journals (not created).
std::filesystem::path directoryFor(const std::filesystem::path& folder);
/// Whether journals can be written at all (the folder is created, a file written and removed);
/// nothing when they can, else the reason. Operations refuse to start without it.
std::optional<QString> checkWritable();

/// The shoot whose history covers `path`: `path` itself or the nearest folder above it that has a
/// history; nothing when none has.
std::optional<std::filesystem::path> historyRootFor(const std::filesystem::path& path);
/// Where an operation on `path` is written down: the nearest folder at or above `start` that has a
/// history, else `fallback`.
std::filesystem::path rootForChangeAt(const std::filesystem::path& start,
                                      const std::filesystem::path& fallback);

/// Appends an operation's steps to a new journal. Failures to write are kept in error(); a step
/// that could not be written down returns nothing and must not be taken, and the token given to
/// stopOnFailure() is cancelled so that the operation stops at once.
class Writer : public AutoOrganizer::MoveObserver {
  public:
    /// Starts a new journal for `root`.
    static core::Result<std::unique_ptr<Writer>> create(Kind kind, const std::filesystem::path& root,
                                                        const QDateTime& now = QDateTime::currentDateTime(),
                                                        const std::filesystem::path& subject = {});
    /// Appends to an existing journal (an undo writes its outcomes there).
    static core::Result<std::unique_ptr<Writer>> openExisting(const std::filesystem::path& file);
    /// Closes the file; a journal with no step in it is removed, else older ones beyond the kept
    /// number are pruned.
    ~Writer() override;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    std::optional<qint64> willMove(const std::filesystem::path& from,
                                   const std::filesystem::path& to) override;
    std::optional<qint64> willMoveFolder(const std::filesystem::path& from,
                                         const std::filesystem::path& to) override;
    /// Announces a file about to be written with `bytes`; the content it replaces is kept.
    std::optional<qint64> willWrite(const std::filesystem::path& file, const QByteArray& bytes) override;
    std::optional<qint64> willSetAttribute(const std::filesystem::path& file,
                                           const std::string& name) override;
    void finished(qint64 id, bool succeeded) override;
    bool willCreateFolder(const std::filesystem::path& folder) override;
    void undone(qint64 id);
    void dropped(qint64 id);
    void closed();

    void stopOnFailure(core::CancelToken token) { m_stop = std::move(token); }
    const std::filesystem::path& file() const { return m_file; }
    const std::optional<QString>& error() const { return m_error; }

  private:
    Writer(platform::AppendOnlyFile out, std::filesystem::path file, qint64 nextId, bool appending);
    bool append(const QByteArray& line);
    bool step(const QByteArray& line);
    platform::AppendOnlyFile m_out;
    std::filesystem::path m_file;
    qint64 m_nextId = 1;
    bool m_appending = false; ///< an undo's outcomes: the file is never removed or pruned
    bool m_hasSteps = false;
    std::optional<QString> m_error;
    std::optional<core::CancelToken> m_stop;
};

/// A journal that is started by the first step there is to write down, so that operations which
/// end before touching anything (a dry run, an empty folder) leave no file.
class LazyWriter : public AutoOrganizer::MoveObserver {
  public:
    LazyWriter(Kind kind, std::filesystem::path root, std::filesystem::path subject = {})
        : m_kind(kind), m_root(std::move(root)), m_subject(std::move(subject)) {}
    std::optional<qint64> willMove(const std::filesystem::path& from,
                                   const std::filesystem::path& to) override;
    std::optional<qint64> willMoveFolder(const std::filesystem::path& from,
                                         const std::filesystem::path& to) override;
    std::optional<qint64> willWrite(const std::filesystem::path& file, const QByteArray& bytes) override;
    std::optional<qint64> willSetAttribute(const std::filesystem::path& file,
                                           const std::string& name) override;
    void finished(qint64 id, bool succeeded) override;
    bool willCreateFolder(const std::filesystem::path& folder) override;
    void stopOnFailure(core::CancelToken token) { m_stop = std::move(token); }
    /// The first failure to start or write the journal.
    std::optional<QString> error() const;

  private:
    Writer* writer();
    Kind m_kind;
    std::filesystem::path m_root;
    std::filesystem::path m_subject;
    std::unique_ptr<Writer> m_writer;
    std::optional<QString> m_startError;
    std::optional<core::CancelToken> m_stop;
};

/// What one journal says.
struct Contents {
    enum class State { pending, done, failed, undone, dropped };
    struct Move {
        qint64 id = 0;
        FeaturePrintRefiner::MoveRecord record;
        State state = State::pending;
        bool folder = false; ///< a folder renamed or moved as a whole
        size_t order = 0;    ///< the step's position in the journal
    };
    struct Written {
        qint64 id = 0;
        std::filesystem::path file;
        QByteArray sha256; ///< hex
        bool replaced = false;
        State state = State::pending;
        std::optional<QByteArray> previous; ///< the replaced content
        size_t order = 0;
    };
    struct Attribute {
        qint64 id = 0;
        std::filesystem::path file;
        std::string name;
        std::optional<QByteArray> previous; ///< nothing: the file had no such attribute
        State state = State::pending;
        size_t order = 0;
    };
    Kind kind = Kind::organize;
    std::filesystem::path root;
    std::filesystem::path subject; ///< what the operation was asked to work on
    QDateTime started;
    std::vector<Move> moves;
    std::vector<Written> writes;
    std::vector<Attribute> attributes;
    std::vector<std::filesystem::path> createdFolders;
    std::vector<size_t> createdOrder; ///< each created folder's step position
    bool closed = false;              ///< an undo finished it

    /// Whether any step is recorded.
    bool hasSteps() const;
    /// Files the operation moved or wrote.
    int fileCount() const;
};

/// Reads a journal; a malformed one is an error (the last line may be cut off by a kill).
core::Result<Contents> read(const std::filesystem::path& file);

/// The journals of `folder`, oldest first.
std::vector<std::filesystem::path> journalsOf(const std::filesystem::path& folder);

/// One recorded operation of a shoot, as the history lists it.
struct Operation {
    std::filesystem::path file;
    std::optional<Contents> contents; ///< nothing when the journal cannot be read
    QString problem;                  ///< why it cannot be read
    bool undoable = false;            ///< something is left to undo
};
/// The operations recorded for the shoot, oldest first; journals without any step are left out.
std::vector<Operation> operationsOf(const std::filesystem::path& root);
/// "{when} {kind} {subject}" of an operation.
QString describe(const Contents& contents, const std::filesystem::path& root);

/// An operation checked and ready to undo.
struct PendingUndo {
    std::filesystem::path file;
    Contents contents;
    std::vector<FeaturePrintRefiner::MoveRecord> records; ///< still undoable, in run order
    std::vector<qint64> ids;                              ///< of `records`
    std::vector<qint64> neverMoved; ///< announced moves a kill stopped before they happened
};

/// Finds the shoot's newest operation of `kind` and checks it without changing anything: a
/// missing, unreadable or foreign journal, one that points outside the shoot, one with nothing
/// left to undo, or later operations in its way are errors.
core::Result<PendingUndo> prepareUndo(Kind kind, const std::filesystem::path& folder);
/// The newest operation that touched `path`'s tree (the shoot or any folder in it, under the name
/// it has now), checked the same way.
core::Result<PendingUndo> prepareUndoAt(const std::filesystem::path& path);

/// Puts back what is still undoable (moves last to first, never overwriting; then the files it
/// wrote, the attributes it set and the folders it created, when every move is back). Outcomes
/// are written into the journal so a retry only retries. Stops between records when cancelled.
/// No closing line.
FeaturePrintRefiner::UndoResult runUndo(const PendingUndo& pending, const core::RunContext& context);

/// prepareUndo, runUndo and the closing line.
core::Result<FeaturePrintRefiner::UndoResult> undoLatest(Kind kind, const std::filesystem::path& folder,
                                                         const core::Log& log);

} // namespace MoveJournal
