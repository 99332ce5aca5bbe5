// GUI tests run the real widgets on Qt's offscreen platform.
#include <QApplication>
#include <gtest/gtest.h>

#include "ui/Language.h"

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  velmora::PrepareJapaneseLocale();
  QApplication app(argc, argv);
  velmora::UseJapanese();  // as the program does at start
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
