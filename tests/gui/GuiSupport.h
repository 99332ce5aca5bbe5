#pragma once
// Waiting in GUI tests. Qt's QTRY_ macros report to QTest, which GoogleTest
// never hears of, so a wait that times out must be checked by the test itself.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <functional>

namespace velmora::test {

// Runs the event loop until `done` holds or `ms` milliseconds have passed.
inline bool WaitFor(const std::function<bool()> &done, int ms = 5000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qWait(5);
  }
  return true;
}

}  // namespace velmora::test
