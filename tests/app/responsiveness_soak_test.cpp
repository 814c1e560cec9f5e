// Soak: the window under a flood of log entries. A writer thread stands in
// for a busy trial worker and writes about 5,000 entries a second through the
// real application log (file and window echo) for ORVANTA_SOAK_SECONDS
// seconds (10 by default). Meanwhile the window thread is measured:
//  - how late a 10 ms timer fires (the event loop's delay),
//  - how long a key press posted by a "user" thread every 20 ms waits before
//    the field handles it,
//  - how often the message list repaints.
// The numbers are reported (stdout and the test's XML properties); the test
// asserts what must hold whatever the machine's speed: the list stays bounded,
// every key press is handled, the list keeps repainting during the flood, and
// it ends showing the last entry.
#include <QCheckBox>
#include <QEventLoop>
#include <QInputDevice>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app_test_support.h"

namespace orvanta::testing {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

int SoakSeconds() {
  const QByteArray value = qgetenv("ORVANTA_SOAK_SECONDS");
  const int seconds = value.isEmpty() ? 10 : value.toInt();
  return std::clamp(seconds, 1, 600);
}

double Millis(SteadyClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index =
      std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
  return values[index];
}

// Counts the paints of one widget and the longest gap between two of them.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && counting) {
      const auto now = SteadyClock::now();
      if (paints > 0) worstGap = std::max(worstGap, now - last);
      last = now;
      ++paints;
    }
    return QObject::eventFilter(watched, event);
  }
  bool counting = false;
  int paints = 0;
  SteadyClock::time_point last;
  SteadyClock::duration worstGap{0};
};

// Key presses posted from another thread, stamped when posted; the field's
// filter measures how long each waited.
class KeyProbe : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      const auto stamp = static_cast<int64_t>(static_cast<QKeyEvent*>(event)->timestamp());
      const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                              SteadyClock::now().time_since_epoch())
                              .count();
      if (stamp != 0) delaysMs.push_back(static_cast<double>(now - stamp) / 1000.0);
    }
    return QObject::eventFilter(watched, event);
  }
  std::vector<double> delaysMs;
};

TEST_F(DialogTest, WindowStaysResponsiveWhileTheLogFloodsIt) {
  const int seconds = SoakSeconds();
  constexpr int kEntriesPerMs = 5;  // 5,000 a second
  const int totalEntries = seconds * 1000 * kEntriesPerMs;

  // A type, so that the editor's fields take keys.
  Click(Find<QPushButton>("addTypeButton"));
  QLineEdit* field = Edit("startEventStringEdit");
  ASSERT_NE(field, nullptr);
  Click(Find<QCheckBox>("startGenerateEventCheck"));
  ASSERT_TRUE(field->isEnabled());
  field->clear();

  auto* list = Find<QListWidget>("messageLog");
  PaintCounter paints;
  list->viewport()->installEventFilter(&paints);
  KeyProbe keys;
  field->installEventFilter(&keys);

  // The event loop's delay: how late a 10 ms timer fires.
  std::vector<double> latenessMs;
  SteadyClock::time_point lastTick = SteadyClock::now();
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const auto now = SteadyClock::now();
    latenessMs.push_back(std::max(0.0, Millis(now - lastTick) - 10.0));
    lastTick = now;
  });

  int maxListCount = 0;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout,
                   [&] { maxListCount = std::max(maxListCount, list->count()); });

  // Key events name their device; the default keyboard is made on first use,
  // and that must be on the window thread.
  QInputDevice::primaryKeyboard();

  std::atomic<bool> writerDone{false};
  std::atomic<int> written{0};
  std::atomic<int> keysPosted{0};

  // A second without load first, as the baseline of the timer's delay.
  {
    lastTick = SteadyClock::now();
    ticker.start(10);
    QEventLoop idle;
    QTimer::singleShot(1000, &idle, &QEventLoop::quit);
    idle.exec();
    ticker.stop();
  }
  const double idleWorst =
      latenessMs.empty() ? 0 : *std::max_element(latenessMs.begin(), latenessMs.end());
  const double idleP99 = Percentile(latenessMs, 0.99);
  latenessMs.clear();

  paints.counting = true;
  lastTick = SteadyClock::now();
  ticker.start(10);
  sampler.start(1);
  const auto started = SteadyClock::now();

  std::thread writer([&] {
    auto next = SteadyClock::now();
    for (int i = 0; i < totalEntries; i += kEntriesPerMs) {
      for (int k = 0; k < kEntriesPerMs && i + k < totalEntries; ++k) {
        log.WriteLogEntry(kLogNotice, "Soak entry " + std::to_string(i + k));
        written.fetch_add(1);
      }
      next += 1ms;
      std::this_thread::sleep_until(next);
    }
    writerDone = true;
  });
  std::thread user([&] {
    while (!writerDone) {
      const auto stamp = std::chrono::duration_cast<std::chrono::microseconds>(
                             SteadyClock::now().time_since_epoch())
                             .count();
      auto* press = new QKeyEvent(QEvent::KeyPress, Qt::Key_1, Qt::NoModifier, QStringLiteral("1"));
      press->setTimestamp(static_cast<quint64>(stamp));
      QCoreApplication::postEvent(field, press);
      keysPosted.fetch_add(1);
      std::this_thread::sleep_for(20ms);
    }
  });

  // The window thread runs a plain event loop, as the program's does, until
  // the writer is done (bounded).
  QEventLoop loop;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (writerDone || SteadyClock::now() - started > std::chrono::seconds(seconds * 3 + 30)) {
      loop.quit();
    }
  });
  watch.start(20);
  loop.exec();
  watch.stop();
  const bool finished = writerDone.load();
  const auto loadEnded = SteadyClock::now();
  const int paintsDuringLoad = paints.paints;
  writer.join();
  user.join();
  ticker.stop();
  sampler.stop();
  ASSERT_TRUE(finished);
  // Let the last queued work arrive.
  ASSERT_TRUE(RunUntil([&] {
    return static_cast<int>(keys.delaysMs.size()) == keysPosted.load() && list->count() > 0 &&
           list->item(list->count() - 1)
               ->text()
               .endsWith(QString::fromStdString("Soak entry " + std::to_string(totalEntries - 1)));
  }));
  paints.counting = false;
  list->viewport()->removeEventFilter(&paints);
  field->removeEventFilter(&keys);

  const double loadSeconds = Millis(loadEnded - started) / 1000.0;
  const double worstLateness =
      latenessMs.empty() ? 0 : *std::max_element(latenessMs.begin(), latenessMs.end());
  const double worstKey =
      keys.delaysMs.empty() ? 0 : *std::max_element(keys.delaysMs.begin(), keys.delaysMs.end());
  std::printf("soak: without load the event loop delay is worst %.1f ms, p99 %.1f ms\n", idleWorst,
              idleP99);
  std::printf(
      "soak: %d entries in %.1f s (%.0f/s); event loop delay worst %.1f ms, p99 %.1f ms, "
      "median %.2f ms over %zu ticks; key presses %d, wait worst %.1f ms, p99 %.1f ms; "
      "list repaints %d during the flood (%.1f/s), longest gap %.1f ms; list at most %d entries\n",
      written.load(), loadSeconds, written.load() / loadSeconds, worstLateness,
      Percentile(latenessMs, 0.99), Percentile(latenessMs, 0.5), latenessMs.size(),
      keysPosted.load(), worstKey, Percentile(keys.delaysMs, 0.99), paintsDuringLoad,
      paintsDuringLoad / loadSeconds, Millis(paints.worstGap), maxListCount);
  RecordProperty("event_loop_worst_delay_ms", QString::number(worstLateness, 'f', 1).toStdString());
  RecordProperty("event_loop_idle_worst_delay_ms",
                 QString::number(idleWorst, 'f', 1).toStdString());
  RecordProperty("key_press_worst_wait_ms", QString::number(worstKey, 'f', 1).toStdString());
  RecordProperty("list_repaints", paintsDuringLoad);
  RecordProperty("entries_written", written.load());

  EXPECT_EQ(written.load(), totalEntries);
  EXPECT_LE(maxListCount, OrvantaDlg::kMaxLogEntries);
  EXPECT_EQ(list->count(), OrvantaDlg::kMaxLogEntries);
  EXPECT_EQ(list->currentRow(), list->count() - 1);
  // Every key press reached the field, in order.
  EXPECT_EQ(field->text(), QString(keysPosted.load(), QLatin1Char('1')));
  // The list kept repainting through the flood, not only at its end.
  EXPECT_GE(paintsDuringLoad, seconds);
  EXPECT_FALSE(latenessMs.empty());
}

}  // namespace
}  // namespace orvanta::testing
