#pragma once

// A real HTTP server on 127.0.0.1 (ephemeral port) that plays the AI service. Tests script its
// replies per request and read back every request it received.

#include <QJsonObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fixtures {

class FakeAIServer {
  public:
    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
        int delayMs = 0;   ///< wait this long before answering
        bool drop = false; ///< send the headers, then close the connection mid-body
        std::map<std::string, std::string> headers = {}; ///< besides Content-Type
    };

    struct Request {
        std::string path;
        std::map<std::string, std::string> headers; ///< names lower-cased
        QJsonObject body;
        QString prompt;     ///< messages[0].content[1].text
        QString imageURL;   ///< messages[0].content[0].image_url.url
        int imageWidth = 0; ///< of the decoded data-URL image; 0 when it did not decode
        int imageHeight = 0;
        std::string imageBytes; ///< the decoded data-URL bytes
    };

    using Handler = std::function<Reply(const Request&)>;

    FakeAIServer();
    ~FakeAIServer();
    FakeAIServer(const FakeAIServer&) = delete;
    FakeAIServer& operator=(const FakeAIServer&) = delete;

    /// The chat-completions URL to configure.
    QString url() const;
    /// Answers every request through this function (replacing any queue).
    void setHandler(Handler handler);
    /// Answers the next requests in order; once the queue is empty, the handler (or a 500).
    void enqueue(Reply reply);
    std::vector<Request> requests() const;
    /// The most requests it was answering at the same time.
    int mostAtOnce() const;

    /// An OpenAI-shaped 200 reply whose choices[0].message.content is the text.
    static Reply chat(const QString& content);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace fixtures
