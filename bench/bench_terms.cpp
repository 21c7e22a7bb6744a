// The look-alike correction of label names: engine::correctTerms, which tries at each position
// only the lexicon terms its character may begin, against a scan of the whole lexicon at every
// position (the same result, checked by the tests), on every name printed on 700 rendered cards
// and on one line of 5,400 characters.

#include "support/Bench.h"
#include "support/TermScan.h"

#include "engine/MuseumTerms.h"
#include "samples/Scenes.h"

#include <cstdio>

int main() {
    QStringList names;
    for (const auto layout : scenes::kLabelLayouts)
        for (unsigned seed = 1000; seed < 1100; ++seed)
            names << scenes::randomPrintedLabel(layout, seed).fields.name;
    const QString longLine = QStringLiteral("青铜鼎").repeated(1800);
    (void)engine::correctTerms(longLine); // builds the lexicon and its index once

    qsizetype characters = 0;
    for (const QString& name : names)
        characters += name.size();
    std::printf("%lld names of %.1f characters on average\n", static_cast<long long>(names.size()),
                double(characters) / double(names.size()));
    const auto every = [&](QString (*correct)(const QString&)) {
        return [&names, correct] {
            for (const QString& name : names)
                (void)correct(name);
        };
    };
    bench::printRow(QStringLiteral("every printed name"), bench::medianMs(7, every(engine::correctTerms)),
                    bench::medianMs(7, every(fixtures::correctTermsByFullScan)), QStringLiteral("full scan"));
    bench::printRow(QStringLiteral("a 5,400-character line"),
                    bench::medianMs(7, [&] { (void)engine::correctTerms(longLine); }),
                    bench::medianMs(3, [&] { (void)fixtures::correctTermsByFullScan(longLine); }),
                    QStringLiteral("full scan"));
    return 0;
}
