#pragma once

// The look-alike correction of a name done the slow, obvious way: every lexicon term tried at
// every position. The reference that engine::correctTerms, which only tries the terms a position's
// character may begin, must agree with (the engine_page fuzz target, bench_terms).

#include "engine/MuseumTerms.h"

#include <QString>
#include <QStringView>

#include <algorithm>

namespace fixtures {

inline QString correctTermsByFullScan(const QString& text) {
    const QStringList& terms = engine::museumTerms();
    QString out;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype exact = 0;
        QString corrected;
        for (const QString& term : terms) {
            if (i + term.size() > text.size()) continue;
            const QStringView window = QStringView(text).mid(i, term.size());
            if (window == term) {
                exact = std::max(exact, term.size());
                continue;
            }
            if (term.size() <= exact || term.size() <= corrected.size()) continue;
            int differences = 0;
            bool fits = true;
            for (qsizetype k = 0; k < term.size() && fits; ++k)
                if (window[k] != term[k]) {
                    ++differences;
                    fits = engine::mayBeReadFor(window[k], term[k]);
                }
            if (!fits || differences * 2 > std::max<qsizetype>(2, term.size())) continue;
            const bool inSomeTerm = std::any_of(
                terms.begin(), terms.end(), [&](const QString& other) { return other.contains(window[0]); });
            if (term.size() == 1 && (i + 1 != text.size() || inSomeTerm)) continue;
            corrected = term;
        }
        if (corrected.size() > exact) {
            out += corrected;
            i += corrected.size();
        } else if (exact > 0) {
            out += text.mid(i, exact);
            i += exact;
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace fixtures
