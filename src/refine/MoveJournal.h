#pragma once

// Move journals: a written record of every file an organize run or a refinement pass moves, so
// the run can be undone later, from another process, even when the run itself was killed.
//
// Where: {user data}/Vitrino/Journals/{key}/, {key} being the first 16 hex digits of the SHA-256
// of the organized folder's absolute path (symbolic links resolved). One file per run, named
// "{yyyyMMdd-HHmmss-zzz}-{nn}-{kind}.jsonl" so that name order is start order; the newest five per
// folder are kept.
//
// Format (JSON Lines, UTF-8, one object per line, appended as the run goes):
//   {"format":"vitrino-move-journal","version":1,"kind":"organize"|"refine",
//    "root":"/abs/folder","started":"2026-12-07T03:30:00.123"}            first line, always
//   {"op":"mkdir","path":P}                   a folder the run is about to create (it did not exist)
//   {"op":"write","id":N,"path":P,"sha256":H,"replaced":false}
//                                             a label file about to be written, with the hash of
//                                             its content; "replaced": a file was there before
//   {"op":"move","id":N,"from":P,"to":P}      a move about to happen
//   {"op":"done","id":N} / {"op":"failed","id":N}            the outcome of move or write N
//   {"op":"undone","id":N} / {"op":"dropped","id":N}         written by an undo: N was moved
//                                             back / is gone for good; neither is tried again
// A path P is a JSON string when its bytes are UTF-8, else {"base64":"…"} of its bytes.
// Each line is written with one write() before the step it announces, so a killed run leaves
// at most a half-written last line (ignored when reading); a move without an outcome is
// decided at undo time by looking at the disk.

#include "core/Log.h"
#include "core/Result.h"
#include "organize/AutoOrganizer.h"
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

enum class Kind { organize, refine };

inline constexpr int kVersion = 1;
inline constexpr int kKeptPerFolder = 5;
inline const QString kFormat = QStringLiteral("vitrino-move-journal");

inline const QString kNoRefineJournal = QStringLiteral("没有可撤销的后处理记录");
inline const QString kNoOrganizeJournal = QStringLiteral("没有可撤销的整理记录");
inline const QString kUnreadable = QStringLiteral("撤销记录无法读取（%1）：%2，未移动任何文件");
inline const QString kForeign = QStringLiteral("撤销记录属于另一个文件夹（%1），未移动任何文件");
inline const QString kRefinedAfterOrganize =
    QStringLiteral("此文件夹整理之后还做过 FeaturePrint 后处理，请先撤销后处理，未移动任何文件");
inline const QString kWriteFailed = QStringLiteral("撤销记录写入失败：%1");

/// The journals folder of all folders ("Vitrino/Journals" in the user's data folder).
QString journalsDirectory();
/// The absolute path a folder is known by (symbolic links resolved).
std::filesystem::path folderIdentity(const std::filesystem::path& folder);
/// The folder holding `folder`'s journals (not created).
std::filesystem::path directoryFor(const std::filesystem::path& folder);

/// Appends a run's steps to a new journal. Failures to write do not stop the run: the first one
/// is kept in error() for the caller to report.
class Writer : public AutoOrganizer::MoveObserver {
  public:
    /// Starts a new journal for `root` and prunes the folder's older ones.
    static core::Result<std::unique_ptr<Writer>> create(Kind kind, const std::filesystem::path& root,
                                                        const QDateTime& now = QDateTime::currentDateTime());
    /// Appends to an existing journal (an undo writes its outcomes there).
    static core::Result<std::unique_ptr<Writer>> openExisting(const std::filesystem::path& file);
    ~Writer() override;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    /// Announces a move; returns its id (nothing when the line could not be written).
    std::optional<qint64> willMove(const std::filesystem::path& from,
                                   const std::filesystem::path& to) override;
    /// Announces a label file about to be written with `bytes`.
    std::optional<qint64> willWrite(const std::filesystem::path& file, const QByteArray& bytes) override;
    void finished(qint64 id, bool succeeded) override;
    void willCreateFolder(const std::filesystem::path& folder) override;
    void undone(qint64 id);
    void dropped(qint64 id);

    const std::filesystem::path& file() const { return m_file; }
    const std::optional<QString>& error() const { return m_error; }

  private:
    Writer(int fd, std::filesystem::path file, qint64 nextId);
    bool append(const QByteArray& line);
    int m_fd = -1;
    std::filesystem::path m_file;
    qint64 m_nextId = 1;
    std::optional<QString> m_error;
};

/// A journal that is started by the first step there is to write down, so that runs which end
/// before touching anything (a dry run, an empty folder) do not push older journals out.
class LazyWriter : public AutoOrganizer::MoveObserver {
  public:
    LazyWriter(Kind kind, std::filesystem::path root) : m_kind(kind), m_root(std::move(root)) {}
    std::optional<qint64> willMove(const std::filesystem::path& from,
                                   const std::filesystem::path& to) override;
    std::optional<qint64> willWrite(const std::filesystem::path& file, const QByteArray& bytes) override;
    void finished(qint64 id, bool succeeded) override;
    void willCreateFolder(const std::filesystem::path& folder) override;
    /// The first failure to start or write the journal.
    std::optional<QString> error() const;

  private:
    Writer* writer();
    Kind m_kind;
    std::filesystem::path m_root;
    std::unique_ptr<Writer> m_writer;
    std::optional<QString> m_startError;
};

/// What one journal says.
struct Contents {
    enum class State { pending, done, failed, undone, dropped };
    struct Move {
        qint64 id = 0;
        FeaturePrintRefiner::MoveRecord record;
        State state = State::pending;
    };
    struct Written {
        qint64 id = 0;
        std::filesystem::path file;
        QByteArray sha256; ///< hex
        bool replaced = false;
        State state = State::pending;
    };
    Kind kind = Kind::organize;
    std::filesystem::path root;
    QDateTime started;
    std::vector<Move> moves;
    std::vector<Written> writes;
    std::vector<std::filesystem::path> createdFolders;
};

/// Reads a journal; a malformed one is an error (the last line may be cut off by a kill).
core::Result<Contents> read(const std::filesystem::path& file);

/// The journals of `folder`, oldest first.
std::vector<std::filesystem::path> journalsOf(const std::filesystem::path& folder);

/// The newest journal of `kind` for `folder`, checked and ready to undo.
struct PendingUndo {
    std::filesystem::path file;
    Contents contents;
    std::vector<FeaturePrintRefiner::MoveRecord> records; ///< still undoable, in run order
    std::vector<qint64> ids;                              ///< of `records`
    std::vector<qint64> neverMoved; ///< announced moves a kill stopped before they happened
};

/// Finds and checks the journal without changing anything: a missing, unreadable or foreign
/// journal, or one with nothing left to undo, is an error.
core::Result<PendingUndo> prepareUndo(Kind kind, const std::filesystem::path& folder);

/// Moves back what is still undoable (last to first, never overwriting) and, for an organize run
/// once every move is back, removes the label files it wrote that are unchanged and the folders it
/// created that are empty. Outcomes are written into the journal so a retry only retries. Stops
/// between records when cancelled. No closing line.
FeaturePrintRefiner::UndoResult runUndo(const PendingUndo& pending, const core::RunContext& context);

/// prepareUndo, runUndo and the closing line.
core::Result<FeaturePrintRefiner::UndoResult> undoLatest(Kind kind, const std::filesystem::path& folder,
                                                         const core::Log& log);

} // namespace MoveJournal
