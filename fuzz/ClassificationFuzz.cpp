// The classification reply parser over any text a server may send.

#include "core/ImageTriClassifier.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString reply =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ClassificationResult result = ImageTriClassifier::parse(reply);
    // The reply is kept whole for the report, and a category always results.
    if (result.rawResponse != reply) std::abort();
    if (!mediaCategoryFromRaw(rawValue(result.category))) std::abort();
    return 0;
}
