#pragma once

// A small HTTP server on the loopback interface (cpp-httplib), for the offline engine.

#include "core/Result.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace platform {

struct HttpReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
};

class HttpServer {
  public:
    /// Handles a POST to any path: (path, body) → reply. Called on the server's own threads.
    using Handler = std::function<HttpReply(const QString& path, const QByteArray& body)>;

    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    /// Listens on 127.0.0.1 (port 0: any free port) and returns the port. Bodies larger than
    /// maxBodyBytes are refused with 413 before the handler sees them. A port that cannot be
    /// bound, or an accept loop that ends at once, is an error ("无法监听 127.0.0.1:{port}（…）").
    core::Result<int> start(int port, Handler handler, std::size_t maxBodyBytes);
    void stop();
    int port() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace platform
