#include "platform/ExtendedAttributes.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "support/FileSystems.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

} // namespace
