// Test runner for the windows. They run offscreen unless told otherwise, also
// when CTest lists the tests.
#include <QApplication>
#include <QLocale>

#include "common/MainThread.h"
#include "ui/Translations.h"
#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  brelo::InstallMainThreadQueue();
  brelo::InstallJapaneseTranslations(app);
  return RUN_ALL_TESTS();
}
