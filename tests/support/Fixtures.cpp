#include "support/Fixtures.h"

#include "samples/RawWriter.h"

#include <QImage>
#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <stdexcept>

// The HEVC encoder behind writeHeic keeps a few buffers to the end of the process; in a build with
// -DVITRINO_SANITIZE=ON, LeakSanitizer reads this and lets them be (only it looks the name up).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265\n";
}

namespace fixtures {

TempDir::TempDir() : m_path(m_dir.path().toStdString()) {
    if (!m_dir.isValid()) throw std::runtime_error("cannot create a temporary directory");
}

platform::Bitmap picture(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    platform::Bitmap image(height, width, CV_8UC3);
    const int r0 = int(rng() % 128), g0 = int(rng() % 128), b0 = int(rng() % 128);
    for (int y = 0; y < height; ++y) {
        auto* row = image.ptr<cv::Vec3b>(y);
        for (int x = 0; x < width; ++x)
            row[x] =
                cv::Vec3b(uchar(r0 + 127 * x / std::max(1, width)), uchar(g0 + 127 * y / std::max(1, height)),
                          uchar(b0 + 60 * ((x / 16 + y / 16) % 2)));
    }
    for (int i = 0; i < 6; ++i) {
        const cv::Point c(int(rng() % unsigned(width)), int(rng() % unsigned(height)));
        const int radius = 1 + int(rng() % unsigned(std::max(2, std::min(width, height) / 4)));
        cv::circle(image, c, radius, cv::Scalar(rng() % 256, rng() % 256, rng() % 256), cv::FILLED,
                   cv::LINE_AA);
    }
    return image;
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write fixture " + path.string());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QString readText(const QString& path) {
    return QString::fromStdString(readFile(path.toStdString()));
}

void writeExifDates(const fs::path& path, const Dates& dates, int orientation) {
    if (!platform::writeExifDates(
            path, QString::fromStdString(dates.dateTimeOriginal.value_or(std::string())),
            QString::fromStdString(dates.dateTime.value_or(std::string())), orientation))
        throw std::runtime_error("cannot write EXIF dates");
}

void writeJpeg(const fs::path& path, int width, int height, const Dates& dates, int orientation,
               unsigned seed, int quality) {
    const auto jpeg = platform::encodeJpeg(picture(width, height, seed), quality);
    if (!jpeg) throw std::runtime_error("cannot encode fixture JPEG");
    writeBytes(path, std::string(jpeg->begin(), jpeg->end()));
    if (dates.dateTimeOriginal || dates.dateTime || orientation > 0) writeExifDates(path, dates, orientation);
}

void writePng(const fs::path& path, int width, int height, unsigned seed) {
    const platform::Bitmap rgb = picture(width, height, seed);
    const QImage image(rgb.data, rgb.cols, rgb.rows, static_cast<qsizetype>(rgb.step), QImage::Format_RGB888);
    if (!image.save(QString::fromStdString(path.string()), "PNG"))
        throw std::runtime_error("cannot write PNG");
}

static std::vector<unsigned char> exifBlock(const Dates& dates) {
    Exiv2::ExifData exif;
    if (dates.dateTimeOriginal) exif["Exif.Photo.DateTimeOriginal"] = *dates.dateTimeOriginal;
    if (dates.dateTime) exif["Exif.Image.DateTime"] = *dates.dateTime;
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return blob;
}

void writeHeic(const fs::path& path, int width, int height, const Dates& dates, unsigned seed) {
    const platform::Bitmap rgb = picture(width, height, seed);
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    heif_image_handle* handle = nullptr;
    bool ok =
        heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code == heif_error_Ok &&
        heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code ==
            heif_error_Ok &&
        heif_image_add_plane(image, heif_channel_interleaved, width, height, 8).code == heif_error_Ok;
    if (ok) {
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < height; ++y)
            std::memcpy(plane + y * stride, rgb.ptr(y), size_t(width) * 3);
        heif_encoder_set_lossy_quality(encoder, 80);
        ok = heif_context_encode_image(ctx, image, encoder, nullptr, &handle).code == heif_error_Ok;
    }
    if (ok && (dates.dateTimeOriginal || dates.dateTime)) {
        const auto block = exifBlock(dates);
        ok = heif_context_add_exif_metadata(ctx, handle, block.data(), int(block.size())).code ==
             heif_error_Ok;
    }
    if (ok) ok = heif_context_write_to_file(ctx, path.c_str()).code == heif_error_Ok;
    if (handle) heif_image_handle_release(handle);
    if (image) heif_image_release(image);
    if (encoder) heif_encoder_release(encoder);
    heif_context_free(ctx);
    if (!ok) throw std::runtime_error("cannot write fixture HEIC");
}

void writeDng(const fs::path& path, int width, int height, const Dates& dates, bool withPreview,
              unsigned seed) {
    if (!samples::writeDng(path, picture(width, height, seed),
                           QString::fromStdString(dates.dateTimeOriginal.value_or(std::string())),
                           QString::fromStdString(dates.dateTime.value_or(std::string())), withPreview))
        throw std::runtime_error("cannot write fixture DNG");
}

double peakGrowthMb(const std::function<void()>& work) {
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    work();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    return double(after.ru_maxrss - before.ru_maxrss) / 1024.0;
}

void setModified(const fs::path& path, const QDateTime& when) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = when.toSecsSinceEpoch();
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set file time");
}

} // namespace fixtures
