#pragma once

// Reading the text of selected images into text files beside them, as one job of the command
// line (the file-manager queue reads its images one by one instead).

#include "services/Engine.h"
#include "services/RunJob.h"

#include <filesystem>
#include <vector>

namespace services {

inline const QString kNoImagesToRead = QStringLiteral("没有可 OCR 的图片（已忽略子目录和视频）。");
inline const QString kOCRCancelledLine = QStringLiteral("[取消] 已停止：已写入 %1 个文本文件，其余图片未读");
inline const QString kOCRStage = QStringLiteral("OCR");

/// "—— 开始 OCR ——" / "—— OCR 结束 ——", refused like organizing while another job runs.
JobFrame ocrFrame();

struct OCRResult {
    std::vector<std::filesystem::path> written; ///< the text files, in reading order
    QStringList errors;
    bool cancelled = false;
    bool refused = false; ///< not started: the history could not be written
};

/// The engine's notice, the selection resolved to images, each image read in turn (stopping
/// between images when cancelled), and the summary of errors.
OCRResult readImages(const RunJob& job, const Engine& engine,
                     const std::vector<std::filesystem::path>& selection);

} // namespace services
