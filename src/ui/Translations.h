// Qt's own texts (Yes, No, Cancel, the file dialog, the context menus of
// text fields) in Japanese, as everything else the program shows.
#pragma once

class QCoreApplication;

namespace brelo {

// Loads Qt's Japanese translations into app; false when they are not
// installed (Debian: qt6-translations-l10n), and the texts stay English.
bool InstallJapaneseTranslations(QCoreApplication& app);

}  // namespace brelo
