#pragma once

// Builders for test fixtures: images with chosen EXIF dates, HEIC, PNG, a small DNG that LibRaw
// opens, videos with set file times, and folders mixing them. Everything is made by code in a
// temporary directory.

#include "platform/Imaging.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace fixtures {

namespace fs = std::filesystem;

/// A temporary directory removed with the object.
class TempDir {
  public:
    TempDir();
    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

  private:
    QTemporaryDir m_dir;
    fs::path m_path;
};

/// Dates written into a photograph's metadata; each absent one is left out.
struct Dates {
    std::optional<std::string> dateTimeOriginal; ///< "yyyy:MM:dd HH:mm:ss" or any malformed text
    std::optional<std::string> dateTime;
};

/// A smooth, textured RGB picture (gradients and a few shapes) from a seed.
platform::Bitmap picture(int width, int height, unsigned seed = 1);

void writeJpeg(const fs::path& path, int width, int height, const Dates& dates = {}, int orientation = 0,
               unsigned seed = 1, int quality = 90);
void writePng(const fs::path& path, int width, int height, unsigned seed = 1);
void writeHeic(const fs::path& path, int width, int height, const Dates& dates = {}, unsigned seed = 1);
/// A DNG with a Bayer mosaic, the dates in its IFD0/Exif IFD and, optionally, a JPEG preview.
void writeDng(const fs::path& path, int width, int height, const Dates& dates = {}, bool withPreview = true,
              unsigned seed = 1);
/// Any bytes under a video name.
void writeBytes(const fs::path& path, const std::string& bytes);
/// A file's bytes; empty when it cannot be read.
std::string readFile(const fs::path& path);
/// A file's text (UTF-8); empty when it cannot be read.
QString readText(const QString& path);

/// The growth of this process's peak resident set while `work` runs, in MB.
double peakGrowthMb(const std::function<void()>& work);

/// Sets the modification (and access) time.
void setModified(const fs::path& path, const QDateTime& when);

/// Writes dates into an existing JPEG's metadata with Exiv2.
void writeExifDates(const fs::path& path, const Dates& dates, int orientation = 0);

} // namespace fixtures

// Readable failure messages for Qt text in GoogleTest assertions.
#include <ostream>
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
