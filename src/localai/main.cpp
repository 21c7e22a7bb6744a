// vitrino-local-ai: the offline engine as a service of its own on 127.0.0.1.

#include "engine/LocalAIService.h"
#include "platform/Process.h"
#include "platform/RuntimeDirectory.h"
#include "platform/TextRecognition.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

} // namespace

int main(int argc, char** argv) {
    platform::ensureRuntimeDirectory();
    platform::reuseFreedBuffers();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    int port = 0;
    if (!args.isEmpty()) {
        bool ok = false;
        if (args.size() == 2 && args[0] == QLatin1String("--port")) port = args[1].toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            std::fprintf(stderr, "用法：vitrino-local-ai [--port N]\n");
            return 2;
        }
    }
    if (auto models = platform::checkModels(); !models) {
        std::fprintf(stderr, "%s\n", models.error().description().toUtf8().constData());
        return 1;
    }
    engine::LocalAIServer server;
    if (const auto listening = server.start(port); !listening) {
        std::fprintf(stderr, "%s\n", listening.error().description().toUtf8().constData());
        return 1;
    }
    std::printf("%s\n", server.url().toUtf8().constData());
    std::fflush(stdout);
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    while (!stopRequested)
        ::pause();
    server.stop();
    return 0;
}
