// The move-journal reader over any bytes found where a journal should be: read on its own, then
// found and checked as an undo finds it (the newest journal of each kind for a folder). A second
// check writes the input as a file name through the journal writer and reads it back unchanged.

#include "FuzzFiles.h"

#include "refine/MoveJournal.h"

#include <QDateTime>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

// Folders that never exist, so that the seeds can name them and nothing on disk is touched.
const fs::path kShoot = "/vitrino-fuzz/shoot";
const fs::path kWritten = "/vitrino-fuzz/written";

void checkContents(const MoveJournal::Contents& contents) {
    std::set<qint64> ids;
    if (contents.root.empty()) std::abort();
    for (const auto& move : contents.moves)
        if (move.id < 0 || !ids.insert(move.id).second || move.record.fromPath.empty() ||
            move.record.toPath.empty())
            std::abort();
    for (const auto& write : contents.writes)
        if (write.id < 0 || !ids.insert(write.id).second || write.file.empty() || write.sha256.size() != 64)
            std::abort();
}

void placeJournal(const fs::path& dir, const std::string& name, const std::uint8_t* data, size_t size) {
    std::ofstream file(dir / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

/// Any file name bytes (but NUL and "/", which no file name holds) come back as they went in.
void roundTrip(const std::uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::replace(bytes.begin(), bytes.end(), '/', '_');
    if (bytes.empty() || bytes == "." || bytes == ".." || bytes.find('\0') != std::string::npos) return;
    static qint64 runs = 0;
    // A new start time for every journal, so that pruning never takes the one just written.
    const QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addMSecs(++runs);
    auto writer = MoveJournal::Writer::create(MoveJournal::Kind::refine, kWritten, now);
    if (!writer) std::abort();
    // Recorded paths are absolute: the name is written as it is, below the shoot.
    const fs::path from = kWritten / "A" / bytes;
    const fs::path to = kWritten / "1 鼎" / bytes;
    const auto id = (*writer)->willMove(from, to);
    if (!id) std::abort();
    (*writer)->finished(*id, true);
    const auto contents = MoveJournal::read((*writer)->file());
    if (!contents || contents->moves.size() != 1 || contents->moves[0].record.fromPath != from ||
        contents->moves[0].record.toPath != to ||
        contents->moves[0].state != MoveJournal::Contents::State::done || contents->root != kWritten)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Journals go to the user's data folder: keep this process's in its own directory.
    const fs::path data = fuzzfiles::directory() / "data";
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const auto file = fuzzfiles::write("journal.jsonl", data, size);
    if (const auto contents = MoveJournal::read(file)) checkContents(*contents);

    static const fs::path dir = [] {
        const fs::path d = MoveJournal::directoryFor(kShoot);
        fs::create_directories(d);
        return d;
    }();
    // Both kinds from the same bytes; which one is newer alternates, so that an organize undo is
    // checked both with and without a later refinement.
    const bool refinedLast = size % 2 == 1;
    std::error_code ec;
    fs::remove(
        dir / (refinedLast ? "20261207-093000-000-01-refine.jsonl" : "20261207-093000-000-03-refine.jsonl"),
        ec);
    placeJournal(dir, "20261207-093000-000-02-organize.jsonl", data, size);
    placeJournal(dir,
                 refinedLast ? "20261207-093000-000-03-refine.jsonl" : "20261207-093000-000-01-refine.jsonl",
                 data, size);
    for (const auto kind : {MoveJournal::Kind::organize, MoveJournal::Kind::refine})
        if (const auto pending = MoveJournal::prepareUndo(kind, kShoot)) {
            checkContents(pending->contents);
            if (pending->records.size() != pending->ids.size()) std::abort();
        }

    roundTrip(data, size);
    return 0;
}
