#include "platform/HttpServer.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace platform {

struct HttpServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
};

HttpServer::HttpServer() : m_impl(std::make_unique<Impl>()) {}

HttpServer::~HttpServer() {
    stop();
}

core::Result<int> HttpServer::start(int port, Handler handler, std::size_t maxBodyBytes) {
    if (m_impl->thread.joinable()) return m_impl->port;
    Impl* impl = m_impl.get();
    impl->server.set_payload_max_length(maxBodyBytes);
    impl->server.set_read_timeout(30, 0);
    impl->server.Post(".*", [handler](const httplib::Request& req, httplib::Response& res) {
        HttpReply reply;
        try {
            reply = handler(QString::fromStdString(req.path), QByteArray::fromStdString(req.body));
        } catch (...) {
            reply = HttpReply{500, R"({"error":{"message":"internal error"}})"};
        }
        res.status = reply.status;
        res.set_content(reply.body.toStdString(), reply.contentType.constData());
    });
    impl->server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(R"({"error":{"message":"request refused"}})", "application/json");
    });
    const auto failure = [port](const QString& reason) {
        return core::Error{QStringLiteral("无法监听 127.0.0.1:%1（%2）").arg(port).arg(reason)};
    };
    errno = 0;
    impl->port = port > 0 ? (impl->server.bind_to_port("127.0.0.1", port) ? port : 0)
                          : impl->server.bind_to_any_port("127.0.0.1");
    if (impl->port <= 0) {
        const int e = errno;
        impl->port = 0;
        return failure(e ? QString::fromLocal8Bit(std::strerror(e)) : QStringLiteral("无法绑定端口"));
    }
    auto ended = std::make_shared<std::atomic<bool>>(false);
    impl->thread = std::thread([impl, ended] {
        impl->server.listen_after_bind();
        ended->store(true);
    });
    // stop() only takes effect once the accept loop runs; a loop that ends at once never will.
    while (!impl->server.is_running()) {
        if (ended->load()) {
            impl->thread.join();
            impl->port = 0;
            return failure(QStringLiteral("监听循环未能启动"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return impl->port;
}

void HttpServer::stop() {
    if (!m_impl->thread.joinable()) return;
    m_impl->server.stop();
    m_impl->thread.join();
}

int HttpServer::port() const {
    return m_impl->port;
}

} // namespace platform
