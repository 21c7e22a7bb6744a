#include "support/Fixtures.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <vector>

using namespace fixtures;

namespace {

const QString kURL1 = "vitrino://ocr?path=/a/IMG%201.JPG&path=/a/%E5%B1%95.JPG";
const QString kURL2 = "vitrino://name?path=/shoot/3";

/// A vitrino-instance-peer on `socket`; an instance quits after `expect` argument lists.
struct Peer : QProcess {
    Peer(const QString& socket, const QStringList& args, int expect = 0) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PEER_EXPECT", QString::number(expect));
        setProcessEnvironment(env);
        start(VITRINO_INSTANCE_PEER, QStringList{socket} + args);
        waitForStarted();
    }
    ~Peer() override {
        kill();
        waitForFinished();
    }
    int finish() { return waitForFinished(15000) && exitStatus() == NormalExit ? exitCode() : -1; }
    QStringList lines() { return QString::fromUtf8(readAllStandardOutput()).split('\n', Qt::SkipEmptyParts); }
};

} // namespace

TEST(SingleInstance, TakesOverACrashedSocketAndHearsEveryLaterProcessInOrder) {
    TempDir dir;
    const std::string path = (dir / "vitrino-test.socket").string();
    const QString socket = QString::fromStdString(path);
    // What a killed instance leaves: a bound socket file nobody listens on.
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);

    Peer first(socket, {"first"}, 4);
    ASSERT_TRUE(first.waitForReadyRead(5000) && first.readLine().trimmed() == "instance");
    Peer second(socket, {kURL1, kURL2});
    EXPECT_EQ(second.finish(), 0);
    Peer third(socket, {});
    EXPECT_EQ(third.finish(), 0);
    // Two senders at once are both heard.
    Peer a(socket, {kURL1}), b(socket, {kURL2});
    EXPECT_EQ((std::vector{a.finish(), b.finish(), first.finish()}), std::vector(3, 0));
    QStringList got = first.lines();
    ASSERT_EQ(got.size(), 4);
    EXPECT_EQ(got.mid(0, 2), (QStringList{"got:" + kURL1 + "|" + kURL2, "got:"}));
    got = got.mid(2);
    got.sort();
    EXPECT_EQ(got, (QStringList{"got:" + kURL2, "got:" + kURL1}));
}

TEST(SingleInstance, TwoStartsAtOnceMakeExactlyOneInstance) {
    TempDir dir;
    const QString socket = QString::fromStdString((dir / "vitrino-test.socket").string());
    Peer a(socket, {"from a"}, 1), b(socket, {"from b"}, 1);
    EXPECT_EQ((std::vector{a.finish(), b.finish()}), std::vector(2, 0));
    // One printed "instance" and the other's arguments; the other printed nothing.
    const QStringList la = a.lines(), lb = b.lines();
    EXPECT_EQ(la.isEmpty() ? lb : la + lb,
              (QStringList{"instance", la.isEmpty() ? "got:from a" : "got:from b"}));
}
