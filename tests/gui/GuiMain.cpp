// GUI tests run the real widgets on Qt's offscreen platform.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ui/Language.h"

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Settings (the recent documents) go to a folder of the run, not the user's own.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  // Templates the tests delete go to a trash of the run, not the user's own.
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  // So do the templates' small pictures.
  QTemporaryDir cache;
  qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
  velmora::PrepareJapaneseLocale();
  QApplication app(argc, argv);
  velmora::UseJapanese();  // as the program does at start
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
