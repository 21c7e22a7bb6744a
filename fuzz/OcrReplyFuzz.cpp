// The OCR reply cleaning and the character count over any text a server may send.

#include "services/ImageOCRProcessor.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString reply =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString cleaned = ImageOCRProcessor::cleanReply(reply);
    // What is saved is trimmed, and never counts more characters than it has code units.
    if (cleaned != cleaned.trimmed()) std::abort();
    const int count = ImageOCRProcessor::perceivedLength(cleaned);
    if (count < 0 || count > cleaned.size()) std::abort();
    return 0;
}
