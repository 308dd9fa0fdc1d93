// The outcome of an operation that may fail, as the layers below the desktop program and the
// command line return it: success, or a Failure that says what failed, the value at fault and the
// range it should have been in, and how the user is to be told (the one-line text, the caption,
// the icon and the window that owns the box). Only the desktop program and the command line show
// outcomes to the user (platform/message.h); the layers that produce them never do.
#pragma once

#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace zuba {

enum class Icon { Error, Warning, Information };

// Which window owns the box: none, the results view, or the dialog that is open.
enum class Owner { None, View, Dialog };

// What the user is shown: text, caption, icon and owner of one message box.
struct Message {
  std::string text;
  std::string caption;
  Icon icon = Icon::Error;
  Owner owner = Owner::None;
  bool operator==(const Message&) const = default;
};

// Why an operation failed.
struct Failure {
  Message message;      // what the user is shown
  std::string subject;  // the quantity or input at fault ("R", "theta", "nR", "EkEnd", a file...)
  double value = std::numeric_limits<double>::quiet_NaN();  // the value at fault, if one
  double low = std::numeric_limits<double>::quiet_NaN();    // the allowed range, NaN where open
  double high = std::numeric_limits<double>::quiet_NaN();
  // The failure ends the operation without a box of its own: a command that refuses silently
  // (a note on the status bar, a line on stderr) or a kernel whose callers report for it.
  bool quiet = false;
  // The file at fault where the text does not name it (a refusal of the *.sdf reader keeps the
  // text of its box): the command line and the status note put it in front of the text.
  std::string file;
};

// The text of a failure with the file at fault in front of it, where it has one:
// "examples/x.sdf: Can not Open File!".
inline std::string TextNamingFile(const Failure& failure) {
  return failure.file.empty() ? failure.message.text : failure.file + ": " + failure.message.text;
}

// A failure shown as the given message.
inline Failure MessageFailure(Message message, std::string subject = {}) {
  Failure failure;
  failure.message = std::move(message);
  failure.subject = std::move(subject);
  return failure;
}

// A failure with the caption "Error", the error icon and no owner window (the numerics' boxes).
inline Failure ErrorFailure(std::string text, std::string subject = {},
                            double value = std::numeric_limits<double>::quiet_NaN(),
                            double low = std::numeric_limits<double>::quiet_NaN(),
                            double high = std::numeric_limits<double>::quiet_NaN()) {
  return Failure{Message{std::move(text), "Error", Icon::Error, Owner::None},
                 std::move(subject),
                 value,
                 low,
                 high,
                 false,
                 {}};
}

// A failure that its callers report without a box of its own (see Failure::quiet).
inline Failure QuietFailure(std::string text, std::string subject = {},
                            double value = std::numeric_limits<double>::quiet_NaN()) {
  Failure failure = ErrorFailure(std::move(text), std::move(subject), value);
  failure.quiet = true;
  return failure;
}

// Success, or the failure that ended the operation. Cheap to pass on success (one null pointer).
class [[nodiscard]] Outcome {
 public:
  Outcome() noexcept = default;
  Outcome(Failure failure)  // NOLINT: a failure converts to its outcome
      : failure_(std::make_shared<const Failure>(std::move(failure))) {}

  bool ok() const noexcept { return failure_ == nullptr; }
  explicit operator bool() const noexcept { return ok(); }
  // What failed; an empty failure (no text) for an outcome that is ok.
  const Failure& failure() const noexcept { return failure_ ? *failure_ : NoFailure(); }
  const Message& message() const noexcept { return failure().message; }

 private:
  static const Failure& NoFailure() noexcept {
    static const Failure none;
    return none;
  }
  std::shared_ptr<const Failure> failure_;
};

// A value, or the failure that kept the operation from making it.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}              // NOLINT
  Result(Failure failure) : outcome_(std::move(failure)) {}  // NOLINT
  Result(Outcome outcome) : outcome_(std::move(outcome)) {}  // NOLINT: only a failed outcome

  bool ok() const noexcept { return value_.has_value(); }
  explicit operator bool() const noexcept { return ok(); }
  // Only for a result that is ok.
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T&& operator*() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  // The value, or nothing after a failure.
  std::optional<T> TakeOptional() && { return std::move(value_); }
  // The failed outcome (an ok outcome when the result holds a value).
  const Outcome& outcome() const noexcept { return outcome_; }
  const Failure& failure() const noexcept { return outcome_.failure(); }
  const Message& message() const noexcept { return outcome_.message(); }

 private:
  std::optional<T> value_;
  Outcome outcome_;
};

}  // namespace zuba
