// Modal message boxes, as a seam: the window shows real boxes, the headless
// runner prints them, tests record them.
#pragma once

#include <string>

namespace orvanta {

enum class BoxIcon { kNone, kError, kWarning, kInformation, kQuestion };
// kAddReplaceCancel: "Add", "Replace" and "Cancel" (opening a setup over
// another), answered kAdd, kReplace or kCancel.
enum class BoxButtons { kOk, kOkCancel, kYesNo, kAddReplaceCancel };
enum class BoxResult { kOk, kCancel, kYes, kNo, kAdd, kReplace };

// Caption used where the program does not name one (the application's title).
inline constexpr const char kDefaultBoxCaption[] = "Orvanta";

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows one box and blocks the caller until it is answered. May be called
  // from any thread; an implementation carries the box over to its own thread.
  virtual BoxResult Show(const std::string& text, const std::string& caption, BoxIcon icon,
                         BoxButtons buttons) = 0;

  BoxResult Show(const std::string& text) {
    return Show(text, kDefaultBoxCaption, BoxIcon::kNone, BoxButtons::kOk);
  }
};

// Headless boxes: each box is one block on stderr, "caption: text", and is
// answered at once with OK (Yes for a yes/no question, Add for add/replace).
class StderrMessageBoxes : public MessageBoxes {
 public:
  using MessageBoxes::Show;
  BoxResult Show(const std::string& text, const std::string& caption, BoxIcon icon,
                 BoxButtons buttons) override;
};

}  // namespace orvanta
