#pragma once

// AI OCR of selected photographs: the selection becomes a list of images (RAW read through a
// same-named JPEG, folders by their own entries), and each image's text is saved beside it.

#include "ai/VisionBackend.h"
#include "core/Log.h"
#include "core/Prompts.h"
#include "core/Result.h"

#include <QString>

namespace AutoOrganizer {
class MoveObserver;
}

#include <filesystem>
#include <optional>
#include <vector>

namespace ImageOCRProcessor {

/// The instruction sent with an image whose text is to be read out into a text file.
inline const QString& kPrompt = core::prompts::kOCR;

// clang-format off
inline const QString kScanFailedLine = QStringLiteral("扫描 %1：%2");
inline const QString kFolderImagesLine = QStringLiteral("%1：当前层 %2 张图片（已忽略子目录和视频）");
inline const QString kSiblingJPEGLine = QStringLiteral("同名有 JPG，改 OCR：%1");
inline const QString kReadingLine = QStringLiteral("OCR：%1");
/// A failure's text, as collected in errors and logged as a failure line.
inline const QString kReadFailed = QStringLiteral("%1：%2");
inline const QString kWriteFailed = QStringLiteral("写入 %1：%2");
inline const QString kWrittenLine = QStringLiteral("已写入 %1（%2 字）");
inline const QString kReplacedLine = QStringLiteral("已替换原有文本文件 %1（原内容已记入历史，可撤销）");
// clang-format on

/// The selection's images to read, in capture order: folders contribute their own photographs
/// (not videos, not subfolders), files their own record; a RAW file with a JPEG beside it is
/// read through the JPEG, and every file is read once however often it was selected.
std::vector<std::filesystem::path> resolveImages(const std::vector<std::filesystem::path>& selection,
                                                 const core::Log& log);

/// The first existing "{stem}.jpg", ".JPG", ".jpeg" or ".JPEG" beside the file.
std::optional<std::filesystem::path> siblingJPEG(const std::filesystem::path& file);

/// The reply as saved: trimmed, and when it starts with a code fence, every "```" removed and
/// trimmed again (a language tag after the fence stays).
QString cleanReply(const QString& reply);

/// Characters as a reader counts them (grapheme clusters): "é" written as e + accent is one.
int perceivedLength(const QString& text);

/// Reads one image through the backend (the OCR prompt, a 4096-token reply) and saves its text
/// beside it as "{stem}.txt"; logs "OCR：{image}", then "已写入 …" or the failure. Returns the
/// text file. `history`, when given, is told before the file is written (and keeps what it replaces).
core::Result<std::filesystem::path> run(const std::filesystem::path& image, ai::VisionBackend& backend,
                                        const core::Log& log, AutoOrganizer::MoveObserver* history = nullptr);

/// Saves the cleaned reply as the image's text file and logs "已写入 …" or the write failure.
/// With a history, an earlier text file's content is kept there and its replacement is told with
/// a "[警告] " line. Returns the text file.
core::Result<std::filesystem::path> saveText(const std::filesystem::path& image, const QString& reply,
                                             const core::Log& log,
                                             AutoOrganizer::MoveObserver* history = nullptr);

/// "{stem}.txt" beside the image.
std::filesystem::path textFileFor(const std::filesystem::path& image);

} // namespace ImageOCRProcessor
