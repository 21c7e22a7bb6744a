// The organize plan reader: any bytes as a plan file. What it accepts writes back to the same
// plan, names only files directly inside the shoot, lists none twice, and names folders that are
// one path component.

#include "organize/Plan.h"

#include <cstdint>
#include <cstdlib>
#include <set>

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool isOneComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto read = plan::fromJSON(bytes);
    if (!read) {
        check(!read.error().description().isEmpty());
        return 0;
    }
    check(read->folder.is_absolute());
    std::set<std::string> seen;
    for (const std::string& name : plan::listedNames(*read)) {
        check(isOneComponent(name));
        check(seen.insert(name).second);
    }
    for (const plan::Group& group : read->groups)
        check(isOneComponent(plan::folderName(group).toStdString()));
    const std::filesystem::path shoot = "/vitrino-fuzz/shoot";
    for (const auto& planned : plan::toGroups(*read, shoot))
        for (const auto& file : planned.files)
            check(file.path.parent_path() == shoot);
    const auto again = plan::fromJSON(plan::toJSON(*read));
    check(again && *again == *read);
    return 0;
}
