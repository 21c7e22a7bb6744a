#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/RuntimeDirectory.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

using namespace fixtures;

namespace {

/// The system's calls, except that moving `source` itself reports another file system.
platform::MoveOps crossingFileSystems(const fs::path& source) {
    platform::MoveOps ops = platform::MoveOps::system();
    const auto real = ops.renameNoReplace;
    ops.renameNoReplace = [source, real](const char* from, const char* to) {
        if (fs::path(from) == source) {
            errno = EXDEV;
            return -1;
        }
        return real(from, to);
    };
    return ops;
}

void rate(const fs::path& file) {
    ASSERT_EQ(platform::setAttribute(file, "user.baloo.rating", "6"), 0);
    ASSERT_EQ(
        platform::setAttribute(file, "user.com.apple.metadata:kMDItemStarRating", QByteArray("\0\x01", 2)),
        0);
}

TEST(ExtendedAttributes, SetReadAndListUserAttributes) {
    TempDir dir;
    const fs::path file = dir / "a.JPG";
    writeBytes(file, "x");
    rate(file);
    EXPECT_EQ(platform::attribute(file, "user.baloo.rating"), QByteArray("6"));
    EXPECT_EQ(platform::attribute(file, "user.com.apple.metadata:kMDItemStarRating"),
              QByteArray("\0\x01", 2));
    EXPECT_EQ(platform::attribute(file, "user.absent"), std::nullopt);
    auto names = platform::userAttributeNames(file);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"user.baloo.rating", "user.com.apple.metadata:kMDItemStarRating"}));
    // Only the user namespace is open to ordinary programs on Linux.
    EXPECT_NE(platform::setAttribute(file, "com.apple.metadata:kMDItemStarRating", "x"), 0);
}

TEST(ExtendedAttributes, TheCopyingMoveKeepsRatingsModeAndTimes) {
    TempDir dir;
    const fs::path from = dir / "IMG_0457.CR3", to = dir / "sub" / "IMG_0457.CR3";
    fs::create_directory(dir / "sub");
    writeBytes(from, "raw bytes");
    rate(from);
    ::chmod(from.c_str(), 0444); // a read-only photo still takes its attributes along
    struct stat before {};
    ::stat(from.c_str(), &before);
    ASSERT_EQ(platform::moveNoReplace(from, to, crossingFileSystems(from)), std::nullopt);
    EXPECT_FALSE(platform::itemExists(from));
    EXPECT_EQ(platform::attribute(to, "user.baloo.rating"), QByteArray("6"));
    EXPECT_EQ(platform::attribute(to, "user.com.apple.metadata:kMDItemStarRating"), QByteArray("\0\x01", 2));
    struct stat after {};
    ::stat(to.c_str(), &after);
    EXPECT_EQ(after.st_mode & 07777, 0444u);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(ExtendedAttributes, ARealMoveToAnotherDeviceKeepsRatings) {
    const ScratchMount other("tmpfs");
    if (!other.ok()) GTEST_SKIP() << other.reason();
    TempDir dir;
    const fs::path from = dir / "a.JPG", to = other.path() / "a.JPG";
    writeBytes(from, "x");
    rate(from);
    ASSERT_EQ(platform::moveNoReplace(from, to), std::nullopt);
    EXPECT_EQ(platform::attribute(to, "user.baloo.rating"), QByteArray("6"));
}

TEST(ExtendedAttributes, MovingOntoAFileSystemWithoutThemStillMovesThePhoto) {
    const ScratchMount card("ramfs");
    if (!card.ok()) GTEST_SKIP() << card.reason();
    TempDir dir;
    const fs::path from = dir / "a.JPG", to = card.path() / "a.JPG";
    writeBytes(from, "x");
    rate(from);
    ASSERT_EQ(platform::moveNoReplace(from, to), std::nullopt);
    EXPECT_TRUE(platform::itemExists(to));
    EXPECT_TRUE(platform::userAttributeNames(to).empty());
}

TEST(Process, RunsAProgramWithAnArgumentListAndReportsItsStatus) {
    const auto status = platform::runProgram("/bin/sh", {"-c", "exit 3", "ignored; exit 0"});
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 3);
    // Arguments are never interpreted by a shell.
    TempDir dir;
    const auto echo = platform::runProgram("/bin/sh", {"-c", "test \"$1\" = '$(x) *'", "sh", "$(x) *"});
    ASSERT_TRUE(echo);
    EXPECT_EQ(*echo, 0);
    const auto missing = platform::runProgram(dir / "none", {});
    EXPECT_FALSE(missing);
    EXPECT_FALSE(missing.error().description().isEmpty());
    const auto slow = platform::runProgram("/bin/sh", {"-c", "sleep 5"}, 100);
    EXPECT_FALSE(slow);
    EXPECT_TRUE(platform::isExecutableFile("/bin/sh"));
    EXPECT_FALSE(platform::isExecutableFile(dir.path()));
}

TEST(RuntimeDirectory, APrivateFolderOfOursIsChosenAndNothingElse) {
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_TRUE(user);
    const std::string uid = std::to_string(::geteuid());
    const std::string named = std::string("runtime-") + user->pw_name;
    enum class Want { system, named, fresh };
    struct Case {
        const char* name;
        std::function<void(const fs::path& system, const fs::path& temp)> prepare;
        Want want;
        bool needsRoot = false;
    };
    const auto folder = [](const fs::path& path, mode_t mode) {
        fs::create_directories(path);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    };
    const std::vector<Case> cases = {
        {"the system's folder for this user", [&](auto& system, auto&) { folder(system / uid, 0700); },
         Want::system},
        {"a system folder others may enter is passed over",
         [&](auto& system, auto&) { folder(system / uid, 0755); }, Want::named},
        {"no folder anywhere: one is made", [](auto&, auto&) {}, Want::named},
        {"our open folder is closed to others", [&](auto&, auto& temp) { folder(temp / named, 0755); },
         Want::named},
        {"a link under our name is never followed",
         [&](auto&, auto& temp) {
             folder(temp / "elsewhere", 0700);
             fs::create_directory_symlink(temp / "elsewhere", temp / named);
         },
         Want::fresh},
        {"a file under our name", [&](auto&, auto& temp) { writeBytes(temp / named, "x"); }, Want::fresh},
        {"another user's folder under our name",
         [&](auto&, auto& temp) {
             folder(temp / named, 0700);
             ASSERT_EQ(::chown((temp / named).c_str(), 12345, 12345), 0);
         },
         Want::fresh, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) continue;
        TempDir system, temp;
        c.prepare(system.path(), temp.path());
        const fs::path got = platform::privateRuntimeDirectory(QString::fromStdString(system.path().string()),
                                                               QString::fromStdString(temp.path().string()))
                                 .toStdString();
        switch (c.want) {
        case Want::system:
            EXPECT_EQ(got, system / uid);
            break;
        case Want::named:
            EXPECT_EQ(got, temp / named);
            break;
        case Want::fresh:
            EXPECT_EQ(got.parent_path(), temp.path());
            EXPECT_TRUE(got.filename().string().starts_with(named + "-")) << got;
            break;
        }
        struct stat st {};
        ASSERT_EQ(::lstat(got.c_str(), &st), 0) << got;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_uid, ::geteuid());
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }
}

} // namespace
