// The application URL parser over any text a desktop or another program may pass to vitrino.

#include "services/ServiceEntry.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)ServiceEntry::isOpenURL(text);
    (void)ServiceEntry::pathItems(text);
    const auto request = ServiceEntry::parseOpenURL(text);
    if (!request) return 0;
    // Only absolute, non-empty paths come out, and the URL made from a request asks for it again.
    for (const auto& path : request->paths)
        if (path.empty() || !path.is_absolute()) std::abort();
    const auto again = ServiceEntry::parseOpenURL(ServiceEntry::openURL(*request));
    if (!again || !(*again == *request)) std::abort();
    return 0;
}
