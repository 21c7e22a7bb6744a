#pragma once

// Qt's own texts (the standard buttons, the folder dialog) in the user's language.

#include <QLocale>
#include <QTranslator>

#include <memory>

namespace app {

/// Qt's translations for `locale` from Qt's translations folder (Debian: qt6-translations-l10n);
/// nothing when Qt has none for that language.
std::unique_ptr<QTranslator> qtTranslations(const QLocale& locale);

} // namespace app
