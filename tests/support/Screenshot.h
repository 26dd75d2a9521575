// Saves a widget's picture when BRELO_SCREENSHOTS names a folder (for the
// README and for looking at the windows after an offscreen run).
#pragma once

#include <QString>

class QWidget;

namespace brelo::test {

void Screenshot(QWidget* w, const QString& name);

}  // namespace brelo::test
