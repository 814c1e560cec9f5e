// What the main window needs of the world outside the trial model, as small
// interfaces: the file dialogs and the server connection. The window program
// wires them to Qt's file dialogs and the server client; the GUI tests answer
// them with fakes. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// One file dialog. `filter` is written in the program's own form, pairs of
// description and pattern separated by '|' and ended by "||", for example
// "Wav Files (*.wav)|*.wav||".
struct FileDialogOptions {
  std::string title;
  std::string filter;
  std::string initialName;       // shown in the name field ("*.wav", "Orvanta.cfg")
  std::string defaultExtension;  // appended when the user types a name without one
};

// Modal file dialogs owned by the main window. Window thread only.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The full path of an existing file the user picked, or nothing on Cancel.
  virtual std::optional<std::string> ChooseFileToOpen(const FileDialogOptions& options) = 0;
  // The full path the user chose to write, or nothing on Cancel. The user has
  // already confirmed the overwrite of an existing file.
  virtual std::optional<std::string> ChooseFileToSave(const FileDialogOptions& options) = 0;
  // An existing folder the user picked, starting at `start`, or nothing on
  // Cancel. Choosers that cannot pick folders return nothing.
  virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                  const std::string& start) {
    (void)title, (void)start;
    return std::nullopt;
  }
};

// The window's view of the server client: connect, disconnect and the
// connection check. Window thread only, except Cancel.
class ServerLink {
 public:
  virtual ~ServerLink() = default;
  // A real exchange with the server: true only when it answered (within the
  // reply bound).
  virtual bool IsConnected() = 0;
  // Blocks until the attempt has finished (bounded; see Cancel).
  virtual bool ConnectToServer(const std::string& serverName, bool negotiatePort) = 0;
  virtual bool DisconnectFromServer() = 0;

  // Any thread: makes a connect or a connection check that is running (or
  // the next one, until it starts) return promptly with false.
  virtual void Cancel() {}
  // No traffic: whether a message connection is set up, working or not.
  virtual bool HasConnection() { return IsConnected(); }
  // No traffic: whether that connection can still carry an exchange (it is
  // set up and was not left out of step by a broken reply).
  virtual bool ConnectionUsable() { return HasConnection(); }
  // Why the last connect failed, in a few words (may be empty).
  virtual std::string ConnectError() { return std::string(); }
  // What went wrong in the last connect although it succeeded (may be empty).
  virtual std::string ConnectWarnings() { return std::string(); }
  // The reply bound in milliseconds (0: wait for ever).
  virtual int ReplyTimeoutMs() { return 5000; }
  virtual void SetReplyTimeoutMs(int ms) { (void)ms; }
  // A real exchange: the server's acquisition objects, in its order; false
  // (and `names` as it was) without a reply. Bounded by the reply bound.
  virtual bool ListObjects(std::vector<std::string>& names) {
    (void)names;
    return false;
  }
  // Opens the client's own log on `path`; false when it cannot be opened.
  virtual bool OpenClientLog(const std::string& path) {
    (void)path;
    return true;
  }
};

}  // namespace orvanta
