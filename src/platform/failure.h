// The one kind of run-time failure that travels through the program: a kind
// that callers sort on, and the number and text that the user is shown.
#pragma once

#include <stdexcept>
#include <string>

namespace quelvar {

enum class FailureKind { kOverflow, kTypeMismatch, kOther };

class Failure : public std::runtime_error {
 public:
  Failure(FailureKind kind, int number, const std::string& description)
      : std::runtime_error(description), kind_(kind), number_(number) {}

  FailureKind kind() const { return kind_; }
  int number() const { return number_; }
  std::string description() const { return what(); }

 private:
  FailureKind kind_;
  int number_;
};

// The platform's own failures, numbered as the user's tools have always shown them.
Failure OverflowFailure();
Failure TypeMismatchFailure();
Failure OutOfMemoryFailure();
// A failed system call on `path`, from its errno value.
Failure FileFailure(int errno_value, const std::string& path);

// What the failure notice says, on every platform: "Error <number>: <description>".
std::string NoticeText(const Failure& failure);

}  // namespace quelvar
