// The main window with a real server client, against the acquisition-server
// simulator in this process on loopback ports it picks itself.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/orvanta_app.h"
#include "app/small_dialogs.h"
#include "app_test_support.h"
#include "client/vintra_client.h"
#include "tools/quorvin-sim/sim_server.h"
#include "tools/quorvin-sim/transcript.h"

namespace orvanta::testing {

class SimDialogTest : public DialogTest {
 protected:
  // The simulator with its negotiation port, both ports free ones.
  SimDialogTest() : link(client) { simOptions.negotiation_enabled = true; }

  void SetUp() override {
    TestApplication();
    ASSERT_NO_FATAL_FAILURE(StartSim());
    client.SetServerPorts(sim->negotiation_port(), sim->message_port());
    trials.SetCommandChannel(&client);
    trials.SetTimingTolerance(kWideTimingToleranceMs);
    DialogTest::SetUp();
  }

  void TearDown() override {
    DialogTest::TearDown();
    // The run's worker uses the client: it ends before the client goes.
    core.StopRun();
    trials.SetCommandChannel(nullptr);
    client.DisconnectFromServer();
    if (sim) sim->Stop();
  }

  ServerLink& ServerLinkForWindow() override { return link; }

  // Sets the server name through Vintra > Set Server Name, as the user does.
  void SetServerName(const std::string& name) {
    WhenModalOpens([name](QWidget* modal) {
      auto* edit = modal->findChild<QLineEdit*>("serverNameEdit");
      ASSERT_NE(edit, nullptr);
      edit->setText(QString::fromStdString(name));
      QTest::keyClick(edit, Qt::Key_Return);  // OK is the default button
    });
    Menu("setServerNameAction");
  }

  // Set Server Name to the simulator's address, then Connect To Server.
  void ConnectThroughMenu() {
    SetServerName("127.0.0.1");
    Menu("connectToServerAction");
  }

  // The commands the simulator has received, in order of arrival. A
  // command's line is written just after its reply went out, so the lines of
  // all commands received so far are waited for (bounded).
  std::vector<std::string> CommandTexts() const {
    std::vector<std::pair<uint64_t, std::string>> commands;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
      const int64_t received = sim->commands_received();
      commands.clear();
      for (const std::string& raw : transcript.Lines()) {
        const auto fields = sim::SplitTranscriptLine(raw);
        if (fields.size() == 7 && fields[3] == "cmd") {
          commands.emplace_back(std::stoull(fields[0]), fields[4]);
        }
      }
      if (static_cast<int64_t>(commands.size()) >= received) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    std::stable_sort(commands.begin(), commands.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    out.reserve(commands.size());
    for (auto& command : commands) out.push_back(std::move(command.second));
    return out;
  }

  bool TranscriptHas(const std::string& piece) const {
    for (const std::string& line : transcript.Lines()) {
      if (line.find(piece) != std::string::npos) return true;
    }
    return false;
  }

  std::unique_ptr<sim::SimServer>& sim = ProgramEnv::server;
  VintraServerLink link;
};

// The enabled state (and the Pause button's text) of the run controls and of
// the controls a run must leave alone, for one comparison.
struct RunControlState {
  bool start, pause, stop, shuffle, addType, removeType, trialCount;
  std::string pauseText;
  bool shuffleType, maxConsecutive, trialTypeList;
  bool operator==(const RunControlState&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RunControlState& s) {
  return out << "start=" << s.start << " pause=" << s.pause << "(" << s.pauseText
             << ") stop=" << s.stop << " shuffle=" << s.shuffle << " add=" << s.addType
             << " remove=" << s.removeType << " count=" << s.trialCount
             << " combo=" << s.shuffleType << " max=" << s.maxConsecutive
             << " types=" << s.trialTypeList;
}

inline RunControlState ReadRunControls(QWidget* window) {
  auto enabled = [window](const char* name) {
    QWidget* w = window->findChild<QWidget*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w != nullptr && w->isEnabled();
  };
  auto* pause = window->findChild<QPushButton*>("pauseButton");
  return {
      enabled("startButton"),      enabled("pauseButton"),
      enabled("stopButton"),       enabled("shuffleButton"),
      enabled("addTypeButton"),    enabled("removeTypeButton"),
      enabled("trialCountEdit"),   pause != nullptr ? pause->text().toStdString() : std::string(),
      enabled("shuffleTypeCombo"), enabled("maxConsecutiveEdit"),
      enabled("trialTypeList")};
}

}  // namespace orvanta::testing
