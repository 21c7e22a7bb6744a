#include "services/ImageOCRProcessor.h"

namespace ImageOCRProcessor {

// clang-format off
const QString kPrompt = QStringLiteral(
    "请识别这张图片中的全部文字。只输出识别到的文字，尽量保持原有换行和阅读顺序。\n"
    "不要解释、不要翻译、不要加标题、不要 Markdown、不要代码块。\n"
    "如果图中没有文字，输出空内容。");
// clang-format on

} // namespace ImageOCRProcessor
