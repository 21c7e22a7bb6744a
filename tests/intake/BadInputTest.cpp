// Files a shoot folder should never contain, and names it may: each yields a record, or a clean
// failure of the one operation, and nothing is changed on disk.

#include "intake/ImageScanner.h"
#include "platform/Imaging.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <set>
#include <tuple>

using namespace fixtures;

namespace {

/// Name → bytes, modification time and mode of each entry (links not followed).
std::map<std::string, std::tuple<std::string, long, long, mode_t>> snapshot(const fs::path& dir) {
    std::map<std::string, std::tuple<std::string, long, long, mode_t>> result;
    for (const auto& entry : fs::directory_iterator(dir)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        result[entry.path().filename().native()] = {S_ISREG(st.st_mode) ? readFile(entry.path()) : "",
                                                    st.st_mtim.tv_sec, st.st_mtim.tv_nsec, st.st_mode};
    }
    return result;
}

} // namespace

TEST(BadInput, EveryOddFileYieldsARecordDecodesOrNotAndNothingChanges) {
    TempDir dir;
    const auto& d = dir.path();
    writeBytes(d / "empty.jpg", "");
    writeJpeg(d / "whole.jpg", 300, 200);
    const std::string whole = readFile(d / "whole.jpg");
    writeBytes(d / "truncated.jpg", whole.substr(0, whole.size() / 3));
    writeBytes(d / "text.jpg", "this is a text file, not a photograph\n");
    fs::create_directory(d / "x.jpg");
    fs::create_symlink("loop.jpg", d / "loop.jpg");
    for (const char* name : {"with space.jpg", "it's \"quoted\".jpg", "line\nbreak.jpg", "青铜器 展签.JPG",
                             "bad\xff\xfe name.jpg", "locked.jpg"})
        writeJpeg(d / name, 40, 30);
    fs::permissions(d / "locked.jpg", fs::perms::none);
    writeBytes(d / "fake.CR3", "ftypcrx but not really a raw file");
    writeBytes(d / "fake.nef", std::string("II*\0\x08\0\0\0garbage", 16));
    ::mkfifo((d / "pipe.jpg").c_str(), 0600);

    const auto before = snapshot(d);
    const auto result = ImageScanner::scanFolder(d).value();
    EXPECT_EQ(result.images.size(), before.size());
    // One record each; names survive exactly, bytes that are not UTF-8 included.
    std::set<std::string> names, expected;
    for (const auto& [name, _] : before)
        expected.insert(name);
    for (const auto& info : result.images) {
        SCOPED_TRACE(info.fileName.toStdString());
        EXPECT_TRUE(info.path.parent_path() == d);
        names.insert(info.path.filename().native());
        // Decoding either works or says "nothing"; it never throws or blocks.
        const auto source = platform::openImageSource(info.path);
        if (source) {
            const auto thumb = platform::thumbnail(*source, 64);
            EXPECT_LE(thumb ? std::max(thumb->cols, thumb->rows) : 0, 64);
            (void)platform::fullImage(*source);
        }
        (void)platform::decodeAny(info.path);
        if (auto raw = platform::RawDeveloper::open(info.path)) (void)raw->develop(0.5);
    }
    for (const char* name : {"empty.jpg", "text.jpg", "x.jpg", "loop.jpg", "missing.jpg"})
        EXPECT_TRUE(!platform::openImageSource(d / name) && !platform::decodeAny(d / name) &&
                    !platform::RawDeveloper::open(d / name))
            << name;
    EXPECT_EQ(names, expected);
    EXPECT_EQ(snapshot(d), before);
    fs::permissions(d / "locked.jpg", fs::perms::owner_all);
}
