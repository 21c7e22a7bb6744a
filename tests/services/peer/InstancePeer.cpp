// A stand-in for a `vitrino` process in the single-instance tests:
//   vitrino-instance-peer SOCKET [ARGUMENTS...]
// hands its arguments to the instance on SOCKET and exits 0, or becomes the instance, prints
// "instance", then one "got:" line per received argument list (joined by "|"), and exits 0 after
// PEER_EXPECT lists (10 s at most, then exit 3).

#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return 2;
    platform::SingleInstance instance(args.takeFirst());
    if (const auto role = instance.claim(args); role != platform::SingleInstance::Role::instance)
        return role == platform::SingleInstance::Role::handedOver ? 0 : 2;
    std::printf("instance\n");
    std::fflush(stdout);
    int expected = qEnvironmentVariableIntValue("PEER_EXPECT");
    QObject::connect(&instance, &platform::SingleInstance::argumentsReceived,
                     [&](const QStringList& received) {
                         std::printf("got:%s\n", received.join(QLatin1Char('|')).toUtf8().constData());
                         std::fflush(stdout);
                         if (--expected <= 0) app.quit();
                     });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(3); });
    return expected <= 0 ? 0 : app.exec();
}
