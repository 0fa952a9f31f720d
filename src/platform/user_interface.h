// What the user is shown: message boxes, the failure notice, the busy
// pointer and progress, the notice of a wait; behind one interface, so that
// a run can be watched without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/failure.h"

namespace quelvar {

// The title of a message box that is given none.
inline constexpr std::string_view kAppTitle = "Quelvar";

enum class Icon { kNone, kInformation, kCritical };
enum class MousePointer { kDefault, kHourglass };

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal box with one OK button; returns once the user has pressed it.
  void MsgBox(std::string_view text, Icon icon,
              std::optional<std::string_view> title = std::nullopt) {
    ShowMessage(text, icon, title.value_or(kAppTitle));
  }
  virtual void ShowMessage(std::string_view text, Icon icon, std::string_view title) = 0;

  // What the user sees for a failure that nothing handled; the program then ends.
  virtual void ShowFailureNotice(const Failure& failure) = 0;

  // The application-wide pointer. While it is the hourglass, progress reports
  // may be shown; they are cheap enough to make for every line.
  virtual void SetMousePointer(MousePointer pointer) = 0;
  virtual void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) = 0;

  // A notice that the run is waiting, and for what: shown without waiting
  // for the user, asking nothing, until HideWaitNotice. Called again and
  // again while the wait lasts, so that a window of its own keeps being
  // drawn; only the first call shows it. Neither may throw.
  virtual void ShowWaitNotice(std::string_view text) = 0;
  virtual void HideWaitNotice() = 0;
};

// Hands every call to another user interface: a wrapper overrides only
// what it changes.
class UserInterfaceWrapper : public UserInterface {
 public:
  explicit UserInterfaceWrapper(UserInterface& target) : target_(target) {}

  void ShowMessage(std::string_view text, Icon icon, std::string_view title) override {
    target_.ShowMessage(text, icon, title);
  }
  void ShowFailureNotice(const Failure& failure) override { target_.ShowFailureNotice(failure); }
  void SetMousePointer(MousePointer pointer) override { target_.SetMousePointer(pointer); }
  void ReportProgress(std::int32_t lines_read, std::int32_t lines_rejected) override {
    target_.ReportProgress(lines_read, lines_rejected);
  }
  void ShowWaitNotice(std::string_view text) override { target_.ShowWaitNotice(text); }
  void HideWaitNotice() override { target_.HideWaitNotice(); }

 private:
  UserInterface& target_;
};

}  // namespace quelvar
