#pragma once

// A generated exhibition shoot for end-to-end tests: small JPEGs with EXIF dates, RAW companions
// and videos, and a fake AI service that answers per photograph. Each photo gets a width of its
// own, which survives upload preparation, so the server knows which photo it was sent. The same
// answers are scripted into a fake backend, for tests that need no HTTP at all.

#include "support/FakeAIServer.h"
#include "support/FakeVisionBackend.h"
#include "support/Fixtures.h"

#include <QString>

#include <map>
#include <mutex>
#include <random>
#include <string>

namespace fixtures {

class Shoot {
  public:
    Shoot(const fs::path& dir, FakeAIServer& server);

    /// A JPEG the model classifies with `triReply` ("panel", "label", "artifact" or any raw
    /// text); a label also answers the label prompt with `labelReply`.
    void photo(const std::string& name, const QString& date, const QString& triReply,
               const QString& labelReply = {});
    /// Shortcuts for the common kinds.
    void artifact(const std::string& name, const QString& date) { photo(name, date, "artifact"); }
    void panel(const std::string& name, const QString& date) { photo(name, date, "panel"); }
    void label(const std::string& name, const QString& date, const QString& name_, const QString& source,
               const QString& period);
    void raw(const std::string& name, const QString& date);
    void video(const std::string& name, const QDateTime& when);

    /// An artifact whose classification is first answered `times` times with HTTP `status` (a
    /// busy service, "Retry-After: 0").
    void busy(const std::string& name, const QString& date, int times, int status = 429);
    /// Every reply from now on waits a random 0…maxMs milliseconds (from `seed`) before it comes.
    void randomDelays(int maxMs, unsigned seed);

    const fs::path& dir() const { return m_dir; }
    /// Answers exactly as the server does, in process.
    FakeVisionBackend& backend() { return m_backend; }
    /// file name → SHA-256 of its bytes, for every file made.
    const std::map<std::string, QByteArray>& originals() const { return m_originals; }

  private:
    void remember(const std::string& name);
    fs::path m_dir;
    int m_next = 0;
    std::mutex m_mutex;
    std::map<int, FakeAIServer::Reply> m_tri, m_label; // by image width
    std::map<std::string, QByteArray> m_originals;
    std::map<int, int> m_busy; // by image width: busy answers still to give
    std::map<int, int> m_busyStatus;
    int m_maxDelayMs = 0;
    std::mt19937 m_random;
    FakeVisionBackend m_backend;
};

/// Two exhibits, a panel, RAW companions, a video and a leftover, shot 10:00–10:06.
void smallExhibition(Shoot& shoot);

/// A panel P.JPG, then `count` exhibits five minutes apart: objects Ee_0…Ee_2.JPG and the label card
/// Ee_L.JPG of "器物e", "遗址", "汉" (e counting from 0).
void exhibits(Shoot& shoot, int count);

/// Every regular file below dir (relative path → SHA-256), subfolders included. With `pictures`, a
/// JPEG counts from its first scan onwards: the picture itself, which stays the same when exiftool
/// writes ratings into the file's metadata.
std::map<std::string, QByteArray> treeHashes(const fs::path& dir, bool pictures = false);

} // namespace fixtures
