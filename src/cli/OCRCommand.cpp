#include "cli/Cli.h"

#include "services/OCRJob.h"

namespace cli {

int ocrCommand(Args& args) {
    const auto engine = engineForRun(args);
    if (!engine) return 2;
    if (args.unknownOption() || args.rest().isEmpty()) return usageError("ocr");
    std::vector<std::filesystem::path> selection;
    for (int i = 0; i < args.rest().size(); ++i)
        selection.push_back(args.path(i));

    return runJob(services::ocrFrame(),
                  [&](const services::RunJob& job) { return services::readImages(job, *engine, selection); });
}

} // namespace cli
