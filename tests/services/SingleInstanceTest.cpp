#include "support/Fixtures.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace fixtures;

namespace {

const QString kURL1 = "vitrino://ocr?path=/a/IMG%201.JPG&path=/a/%E5%B1%95.JPG";
const QString kURL2 = "vitrino://name?path=/shoot/3";

struct Peer {
    QProcess process;

    Peer(const QString& socket, const QStringList& args, int expect = 0) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PEER_EXPECT", QString::number(expect));
        process.setProcessEnvironment(env);
        process.start(VITRINO_INSTANCE_PEER, QStringList{socket} + args);
        process.waitForStarted();
    }
    ~Peer() {
        process.kill();
        process.waitForFinished();
    }
    /// Waits for the line "instance" (false when the process ended or took too long).
    bool becameInstance() {
        while (!process.canReadLine())
            if (!process.waitForReadyRead(5000)) return false;
        return process.readLine().trimmed() == "instance";
    }
    int finish() {
        if (!process.waitForFinished(15000)) return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList lines() {
        return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
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
    ASSERT_TRUE(first.becameInstance());
    Peer second(socket, {kURL1, kURL2});
    EXPECT_EQ(second.finish(), 0);
    Peer third(socket, {});
    EXPECT_EQ(third.finish(), 0);
    // Two senders at once are both heard.
    Peer a(socket, {kURL1});
    Peer b(socket, {kURL2});
    EXPECT_EQ(a.finish(), 0);
    EXPECT_EQ(b.finish(), 0);
    EXPECT_EQ(first.finish(), 0);
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
    Peer a(socket, {"from a"}, 1);
    Peer b(socket, {"from b"}, 1);
    EXPECT_EQ(a.finish(), 0);
    EXPECT_EQ(b.finish(), 0);
    const QStringList linesA = a.lines(), linesB = b.lines();
    // One printed "instance" and the other's arguments; the other printed nothing.
    if (linesA.isEmpty()) {
        EXPECT_EQ(linesB, (QStringList{"instance", "got:from a"}));
    } else {
        EXPECT_EQ(linesA, (QStringList{"instance", "got:from b"}));
        EXPECT_TRUE(linesB.isEmpty());
    }
}
