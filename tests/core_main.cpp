// Test runner for everything without widgets. A QCoreApplication exists so
// that main-thread hand-offs and socket notifiers work.
#include <QCoreApplication>

#include "common/MainThread.h"
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  brelo::InstallMainThreadQueue();
  return RUN_ALL_TESTS();
}
