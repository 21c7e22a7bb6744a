#include "support/FakeAIServer.h"

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

namespace fixtures {

struct FakeAIServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::deque<Reply> queue;
    Handler handler;
    std::vector<Request> requests;
    int answering = 0;
    int mostAtOnce = 0;
};

namespace {

FakeAIServer::Request parseRequest(const httplib::Request& req) {
    FakeAIServer::Request r;
    r.path = req.path;
    for (const auto& [name, value] : req.headers)
        r.headers[QByteArray::fromStdString(name).toLower().toStdString()] = value;
    r.body = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
    const QJsonArray content =
        r.body.value("messages").toArray().first().toObject().value("content").toArray();
    r.imageURL = content.at(0).toObject().value("image_url").toObject().value("url").toString();
    r.prompt = content.at(1).toObject().value("text").toString();
    const qsizetype comma = r.imageURL.indexOf(',');
    if (comma > 0) {
        const QByteArray bytes = QByteArray::fromBase64(r.imageURL.mid(comma + 1).toLatin1());
        r.imageBytes = bytes.toStdString();
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer);
        const QSize size = reader.size();
        if (size.isValid()) {
            r.imageWidth = size.width();
            r.imageHeight = size.height();
        }
    }
    return r;
}

} // namespace

FakeAIServer::FakeAIServer() : m_impl(std::make_unique<Impl>()) {
    Impl* impl = m_impl.get();
    impl->server.Post(".*", [impl](const httplib::Request& req, httplib::Response& res) {
        const Request request = parseRequest(req);
        Reply reply;
        {
            std::lock_guard lock(impl->mutex);
            impl->mostAtOnce = std::max(impl->mostAtOnce, ++impl->answering);
            impl->requests.push_back(request);
            if (!impl->queue.empty()) {
                reply = impl->queue.front();
                impl->queue.pop_front();
            } else if (impl->handler) {
                reply = impl->handler(request);
            } else {
                reply = Reply{500, R"({"error":"no reply scripted"})"};
            }
        }
        for (int waited = 0; waited < reply.delayMs && !impl->stopping; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        {
            std::lock_guard lock(impl->mutex);
            --impl->answering;
        }
        res.status = reply.status;
        for (const auto& [name, value] : reply.headers)
            res.set_header(name.c_str(), value);
        if (reply.drop) {
            const std::string half = reply.body.substr(0, reply.body.size() / 2);
            res.set_content_provider(reply.body.size() + 100, reply.contentType,
                                     [half](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0) sink.write(half.data(), half.size());
                                         return offset == 0;
                                     });
            return;
        }
        res.set_content(reply.body, reply.contentType.c_str());
    });
    impl->port = impl->server.bind_to_any_port("127.0.0.1");
    impl->thread = std::thread([impl] { impl->server.listen_after_bind(); });
    // stop() only takes effect once the accept loop runs.
    while (!impl->server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeAIServer::~FakeAIServer() {
    m_impl->stopping = true;
    m_impl->server.stop();
    if (m_impl->thread.joinable()) m_impl->thread.join();
}

QString FakeAIServer::url() const {
    return QStringLiteral("http://127.0.0.1:%1/api/v3/chat/completions").arg(m_impl->port);
}

void FakeAIServer::setHandler(Handler handler) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->queue.clear();
    m_impl->handler = std::move(handler);
}

void FakeAIServer::enqueue(Reply reply) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->queue.push_back(std::move(reply));
}

std::vector<FakeAIServer::Request> FakeAIServer::requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->requests;
}

int FakeAIServer::mostAtOnce() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->mostAtOnce;
}

FakeAIServer::Reply FakeAIServer::chat(const QString& content) {
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    const QJsonObject choice{{"index", 0}, {"message", message}, {"finish_reason", "stop"}};
    const QJsonObject body{
        {"id", "chatcmpl-test"}, {"object", "chat.completion"}, {"choices", QJsonArray{choice}}};
    return Reply{200, QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString()};
}

} // namespace fixtures
