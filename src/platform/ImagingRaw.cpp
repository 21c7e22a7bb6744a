// The one place that calls LibRaw.

#include "platform/ImagingInternal.h"

#include <libraw/libraw.h>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace platform {
namespace {

/// LibRaw's flip: 3 = 180°, 5 = 90° counter-clockwise, 6 = 90° clockwise.
Bitmap applyFlip(const Bitmap& image, int flip) {
    switch (flip) {
    case 3:
        return detail::applyOrientation(image, 3);
    case 5:
        return detail::applyOrientation(image, 8);
    case 6:
        return detail::applyOrientation(image, 6);
    default:
        return image;
    }
}

std::unique_ptr<LibRaw> openLibRaw(const std::filesystem::path& path) {
    try {
        auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
        // LibRaw's default handler prints data errors on stderr; we report only "nothing".
        raw->set_dataerror_handler([](void*, const char*, const int) {}, nullptr);
        if (raw->open_file(path.c_str()) != LIBRAW_SUCCESS) return nullptr;
        if (raw->imgdata.sizes.width < 2 || raw->imgdata.sizes.height < 2) return nullptr;
        return raw;
    } catch (...) {
        return nullptr;
    }
}

class LibRawDeveloper final : public RawDeveloper {
  public:
    explicit LibRawDeveloper(std::unique_ptr<LibRaw> raw) : m_raw(std::move(raw)) {}

    cv::Size nativeSize() const override {
        const auto& s = m_raw->imgdata.sizes;
        const bool turned = s.flip == 5 || s.flip == 6;
        return turned ? cv::Size(s.height, s.width) : cv::Size(s.width, s.height);
    }

    std::optional<Bitmap> develop(double scale) override {
        if (!(scale > 0.0) || scale > 1.0 || m_used) return std::nullopt;
        m_used = true;
        const cv::Size native = nativeSize();
        // The small epsilon keeps a ratio like 2560 / 6000 from flooring one pixel short.
        const int w = std::max(1, static_cast<int>(std::floor(scale * native.width + 1e-6)));
        const int h = std::max(1, static_cast<int>(std::floor(scale * native.height + 1e-6)));
        if (std::int64_t(native.width) * native.height > detail::kMaxDecodePixels) return std::nullopt;
        try {
            auto& p = m_raw->imgdata.params;
            p.half_size = scale <= 0.5 ? 1 : 0;
            p.use_camera_wb = 1;
            p.output_bps = 8;
            p.output_color = 1; // sRGB
            if (m_raw->unpack() != LIBRAW_SUCCESS || m_raw->dcraw_process() != LIBRAW_SUCCESS)
                return std::nullopt;
            int err = 0;
            libraw_processed_image_t* mem = m_raw->dcraw_make_mem_image(&err);
            if (!mem) return std::nullopt;
            std::optional<Bitmap> result;
            if (mem->type == LIBRAW_IMAGE_BITMAP && mem->colors == 3 && mem->bits == 8) {
                const Bitmap view(mem->height, mem->width, CV_8UC3, mem->data);
                Bitmap out;
                if (view.cols == w && view.rows == h)
                    out = view.clone();
                else
                    cv::resize(view, out, cv::Size(w, h), 0, 0, cv::INTER_AREA);
                result = out;
            }
            LibRaw::dcraw_clear_mem(mem);
            return result;
        } catch (...) {
            return std::nullopt;
        }
    }

  private:
    std::unique_ptr<LibRaw> m_raw;
    bool m_used = false;
};

} // namespace

std::unique_ptr<RawDeveloper> RawDeveloper::open(const std::filesystem::path& path) {
    if (!openImageSource(path)) return nullptr;
    auto raw = openLibRaw(path);
    if (!raw) return nullptr;
    return std::make_unique<LibRawDeveloper>(std::move(raw));
}

namespace detail {

std::optional<Bitmap> rawPreview(const std::filesystem::path& path, int maxSide) {
    auto raw = openLibRaw(path);
    // Only JPEG previews, the kind cameras embed: LibRaw 0.20 writes past its buffer while
    // unpacking some damaged bitmap thumbnails. Callers develop the RAW data instead.
    if (!raw || !raw->is_jpeg_thumb()) return std::nullopt;
    try {
        if (raw->unpack_thumb() != LIBRAW_SUCCESS) return std::nullopt;
        int err = 0;
        libraw_processed_image_t* mem = raw->dcraw_make_mem_thumb(&err);
        if (!mem) return std::nullopt;
        std::optional<Bitmap> decoded;
        if (mem->type == LIBRAW_IMAGE_JPEG) {
            const Bytes bytes(mem->data, mem->data + mem->data_size);
            decoded = decodeJpeg(bytes, maxSide);
        } else if (mem->type == LIBRAW_IMAGE_BITMAP && mem->colors == 3 && mem->bits == 8) {
            decoded = fitWithin(Bitmap(mem->height, mem->width, CV_8UC3, mem->data).clone(), maxSide);
        }
        LibRaw::dcraw_clear_mem(mem);
        if (!decoded || decoded->cols < 2 || decoded->rows < 2) return std::nullopt;
        return applyFlip(*decoded, raw->imgdata.sizes.flip);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace detail
} // namespace platform
