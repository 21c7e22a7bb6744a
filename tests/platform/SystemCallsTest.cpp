#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"
#include "platform/RuntimeDirectory.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>

using namespace fixtures;

namespace {

TEST(SystemCalls, MovesAcrossFileSystemsKeepRatingsModeAndTimesWhereTheyCan) {
    const QByteArray stars("\0\x01", 2);
    for (const std::string to : {"", "tmpfs", "ramfs"}) { // "": this file system, reported as another
        SCOPED_TRACE(to);
        std::unique_ptr<ScratchMount> mount;
        if (!to.empty()) mount = std::make_unique<ScratchMount>(to);
        if (mount && !mount->ok()) continue; // no mounts here
        TempDir dir;
        const fs::path from = dir / "IMG_0457.CR3", dest = (mount ? mount->path() : dir.path()) / "moved.CR3";
        writeBytes(from, "raw bytes");
        ASSERT_EQ(platform::setAttribute(from, "user.baloo.rating", "6"), 0);
        ASSERT_EQ(platform::setAttribute(from, "user.com.apple.metadata:kMDItemStarRating", stars), 0);
        setModified(from, QDateTime(QDate(2020, 2, 2), QTime(2, 2))); // the camera's time, not the copy's
        ::chmod(from.c_str(), 0444); // a read-only photo still takes its attributes along
        struct stat before {
        }, after{};
        ::stat(from.c_str(), &before);
        platform::MoveOps ops = platform::MoveOps::system();
        if (!mount)
            ops.renameNoReplace = [&, real = ops.renameNoReplace](const char* a, const char* b) {
                return fs::path(a) == from ? (errno = EXDEV, -1) : real(a, b);
            };
        ASSERT_EQ(platform::moveNoReplace(from, dest, ops), std::nullopt);
        EXPECT_FALSE(platform::itemExists(from));
        ::stat(dest.c_str(), &after);
        EXPECT_EQ(after.st_mode & 07777, 0444u);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        const bool kept = to != "ramfs"; // no user attributes on ramfs: the photo moves all the same
        EXPECT_EQ(platform::attribute(dest, "user.baloo.rating"), kept ? std::optional("6") : std::nullopt);
        EXPECT_EQ(platform::attribute(dest, "user.com.apple.metadata:kMDItemStarRating"),
                  kept ? std::optional(stars) : std::nullopt);
        EXPECT_EQ(platform::attribute(dest, "user.absent"), std::nullopt);
    }
}

TEST(SystemCalls, ThePrivateRuntimeFolderIsOursAndNothingElse) {
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_TRUE(user);
    const std::string uid = std::to_string(::geteuid());
    const std::string named = std::string("runtime-") + user->pw_name;
    const auto folder = [](const fs::path& path, mode_t mode) {
        fs::create_directories(path);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    };
    const struct {
        const char* name;
        std::function<void(const fs::path& system, const fs::path& temp)> prepare;
        const char* want; ///< "system", "named", or a fresh folder "named-…" beside it
        bool needsRoot = false;
    } cases[] = {
        {"the system's folder for this user", [&](auto& system, auto&) { folder(system / uid, 0700); },
         "system"},
        {"a system folder others may enter is passed over",
         [&](auto& system, auto&) { folder(system / uid, 0755); }, "named"},
        {"our open folder is closed to others", [&](auto&, auto& temp) { folder(temp / named, 0755); },
         "named"},
        {"a link under our name is never followed",
         [&](auto&, auto& temp) {
             folder(temp / "elsewhere", 0700);
             fs::create_directory_symlink(temp / "elsewhere", temp / named);
         },
         "fresh"},
        {"another user's folder under our name",
         [&](auto&, auto& temp) {
             folder(temp / named, 0700);
             ASSERT_EQ(::chown((temp / named).c_str(), 12345, 12345), 0);
         },
         "fresh", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) continue;
        TempDir system, temp;
        c.prepare(system.path(), temp.path());
        const fs::path got = platform::privateRuntimeDirectory(QString::fromStdString(system.path().string()),
                                                               QString::fromStdString(temp.path().string()))
                                 .toStdString();
        if (c.want == std::string("system"))
            EXPECT_EQ(got, system / uid);
        else if (c.want == std::string("named"))
            EXPECT_EQ(got, temp / named);
        else
            EXPECT_TRUE(got.parent_path() == temp.path() && got.filename().string().starts_with(named + "-"))
                << got;
        struct stat st {};
        ASSERT_EQ(::lstat(got.c_str(), &st), 0) << got;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_uid, ::geteuid());
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }
}

} // namespace
