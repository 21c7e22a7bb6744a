#include "support/Fixtures.h"

#include <QImage>
#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <stdexcept>

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

static void writeFile(const fs::path& path, const unsigned char* data, size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) throw std::runtime_error("cannot write fixture " + path.string());
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    writeFile(path, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

static void putDates(Exiv2::ExifData& exif, const Dates& dates, int orientation) {
    if (dates.dateTimeOriginal) exif["Exif.Photo.DateTimeOriginal"] = *dates.dateTimeOriginal;
    if (dates.dateTime) exif["Exif.Image.DateTime"] = *dates.dateTime;
    if (orientation > 0) exif["Exif.Image.Orientation"] = uint16_t(orientation);
}

void writeExifDates(const fs::path& path, const Dates& dates, int orientation) {
    auto image = Exiv2::ImageFactory::open(path.native());
    image->readMetadata();
    Exiv2::ExifData exif = image->exifData();
    putDates(exif, dates, orientation);
    image->setExifData(exif);
    image->writeMetadata();
}

void writeJpeg(const fs::path& path, int width, int height, const Dates& dates, int orientation,
               unsigned seed, int quality) {
    const auto jpeg = platform::encodeJpeg(picture(width, height, seed), quality);
    if (!jpeg) throw std::runtime_error("cannot encode fixture JPEG");
    writeFile(path, jpeg->data(), jpeg->size());
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
    putDates(exif, dates, 0);
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

namespace {

/// A little-endian TIFF writer, just enough for a DNG.
class TiffWriter {
  public:
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<unsigned char> data; // value bytes; placed inline when ≤ 4 bytes
    };

    static Entry shorts(uint16_t tag, std::vector<uint16_t> v) {
        Entry e{tag, 3, uint32_t(v.size()), {}};
        for (auto x : v)
            put16(e.data, x);
        return e;
    }
    static Entry longs(uint16_t tag, std::vector<uint32_t> v) {
        Entry e{tag, 4, uint32_t(v.size()), {}};
        for (auto x : v)
            put32(e.data, x);
        return e;
    }
    static Entry bytes(uint16_t tag, std::vector<unsigned char> v) {
        return Entry{tag, 1, uint32_t(v.size()), v};
    }
    static Entry ascii(uint16_t tag, const std::string& s) {
        Entry e{tag, 2, uint32_t(s.size() + 1), std::vector<unsigned char>(s.begin(), s.end())};
        e.data.push_back(0);
        return e;
    }
    static Entry srationals(uint16_t tag, std::vector<int32_t> v) { // num/den pairs
        Entry e{tag, 10, uint32_t(v.size() / 2), {}};
        for (auto x : v)
            put32(e.data, uint32_t(x));
        return e;
    }

    static void put16(std::vector<unsigned char>& b, uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    static void put32(std::vector<unsigned char>& b, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    }
    static void set32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = uint8_t(v >> (8 * i));
    }

    /// Appends an IFD at the end of out (entries sorted by tag) and returns its offset.
    static uint32_t writeIfd(std::vector<unsigned char>& out, std::vector<Entry> entries) {
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        if (out.size() % 2) out.push_back(0);
        const uint32_t at = uint32_t(out.size());
        put16(out, uint16_t(entries.size()));
        const size_t valuesStart = out.size() + entries.size() * 12 + 4;
        std::vector<unsigned char> values;
        for (const auto& e : entries) {
            put16(out, e.tag);
            put16(out, e.type);
            put32(out, e.count);
            if (e.data.size() <= 4) {
                auto d = e.data;
                d.resize(4, 0);
                out.insert(out.end(), d.begin(), d.end());
            } else {
                put32(out, uint32_t(valuesStart + values.size()));
                values.insert(values.end(), e.data.begin(), e.data.end());
                if (values.size() % 2) values.push_back(0);
            }
        }
        put32(out, 0);
        out.insert(out.end(), values.begin(), values.end());
        return at;
    }
};

} // namespace

void writeDng(const fs::path& path, int width, int height, const Dates& dates, bool withPreview,
              unsigned seed) {
    using T = TiffWriter;
    const platform::Bitmap rgb = picture(width, height, seed);
    std::vector<unsigned char> out = {'I', 'I', 42, 0, 0, 0, 0, 0};

    // Raw data: an RGGB mosaic, 16 bits, uncompressed.
    const uint32_t rawOffset = uint32_t(out.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int channel = (y % 2 == 0) ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
            T::put16(out, uint16_t(rgb.at<cv::Vec3b>(y, x)[channel] * 16));
        }
    const uint32_t rawBytes = uint32_t(out.size()) - rawOffset;

    uint32_t exifIfd = 0;
    if (dates.dateTimeOriginal) exifIfd = T::writeIfd(out, {T::ascii(0x9003, *dates.dateTimeOriginal)});

    // The raw image lives in a sub-IFD, as in cameras' DNGs; IFD0 holds the preview, if any.
    const uint32_t rawIfd = T::writeIfd(out, {
                                                 T::longs(0x00FE, {0}),
                                                 T::longs(0x0100, {uint32_t(width)}),
                                                 T::longs(0x0101, {uint32_t(height)}),
                                                 T::shorts(0x0102, {16}),
                                                 T::shorts(0x0103, {1}),
                                                 T::shorts(0x0106, {32803}),
                                                 T::longs(0x0111, {rawOffset}),
                                                 T::shorts(0x0115, {1}),
                                                 T::longs(0x0116, {uint32_t(height)}),
                                                 T::longs(0x0117, {rawBytes}),
                                                 T::shorts(0x011C, {1}),
                                                 T::shorts(0x828D, {2, 2}),
                                                 T::bytes(0x828E, {0, 1, 1, 2}),
                                                 T::longs(0xC61D, {4095}),
                                             });

    std::vector<T::Entry> entries = {
        T::ascii(0x010F, "Vitrino"),
        T::ascii(0x0110, "Fixture"),
        T::shorts(0x0112, {1}),
        T::longs(0x014A, {rawIfd}),
        T::bytes(0xC612, {1, 4, 0, 0}),
        T::bytes(0xC613, {1, 1, 0, 0}),
        T::ascii(0xC614, "Vitrino Fixture"),
        T::srationals(0xC621, {1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1}),
        T::shorts(0xC65A, {21}),
    };
    if (withPreview) {
        platform::Bitmap small;
        cv::resize(rgb, small, cv::Size(width / 2, height / 2), 0, 0, cv::INTER_AREA);
        const auto jpeg = platform::encodeJpeg(small, 85);
        const uint32_t previewOffset = uint32_t(out.size());
        out.insert(out.end(), jpeg->begin(), jpeg->end());
        for (auto e :
             {T::longs(0x00FE, {1}), T::longs(0x0100, {uint32_t(small.cols)}),
              T::longs(0x0101, {uint32_t(small.rows)}), T::shorts(0x0102, {8, 8, 8}), T::shorts(0x0103, {7}),
              T::shorts(0x0106, {6}), T::longs(0x0111, {previewOffset}), T::shorts(0x0115, {3}),
              T::longs(0x0116, {uint32_t(small.rows)}), T::longs(0x0117, {uint32_t(jpeg->size())})})
            entries.push_back(e);
    } else {
        entries.push_back(T::longs(0x00FE, {1}));
    }
    if (dates.dateTime) entries.push_back(T::ascii(0x0132, *dates.dateTime));
    if (exifIfd) entries.push_back(T::longs(0x8769, {exifIfd}));
    const uint32_t ifd0 = T::writeIfd(out, entries);
    T::set32(out, 4, ifd0);
    writeFile(path, out.data(), out.size());
}

void writeLargeJpegInChild(const fs::path& path, int width, int height) {
    const pid_t child = ::fork();
    if (child == 0) {
        bool ok = false;
        try {
            const platform::Bitmap image(height, width, CV_8UC3, cv::Scalar(90, 120, 150));
            const auto jpeg = platform::encodeJpeg(image, 80);
            FILE* f = jpeg ? std::fopen(path.c_str(), "wb") : nullptr;
            ok = f && std::fwrite(jpeg->data(), 1, jpeg->size(), f) == jpeg->size();
            if (f) std::fclose(f);
        } catch (...) {
        }
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("cannot write large JPEG");
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
