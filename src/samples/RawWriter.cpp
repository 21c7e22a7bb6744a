#include "samples/RawWriter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace samples {

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

bool writeDng(const std::filesystem::path& path, const platform::Bitmap& rgb, const QString& dateTimeOriginal,
              const QString& dateTime, bool withPreview) {
    using T = TiffWriter;
    if (rgb.empty() || rgb.type() != CV_8UC3) return false;
    const int width = rgb.cols, height = rgb.rows;
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
    if (!dateTimeOriginal.isEmpty())
        exifIfd = T::writeIfd(out, {T::ascii(0x9003, dateTimeOriginal.toStdString())});

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
        if (!jpeg) return false;
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
    if (!dateTime.isEmpty()) entries.push_back(T::ascii(0x0132, dateTime.toStdString()));
    if (exifIfd) entries.push_back(T::longs(0x8769, {exifIfd}));
    const uint32_t ifd0 = T::writeIfd(out, entries);
    T::set32(out, 4, ifd0);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return bool(file);
}

} // namespace samples
