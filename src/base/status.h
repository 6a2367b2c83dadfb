// The error value of the core: every fallible operation below the binding returns a Status or a
// Result<T>. Nothing here knows about Python; src/binding turns a failed Status into an exception.
#pragma once

#include <memory>
#include <source_location>
#include <string>
#include <utility>
#include <variant>

namespace zarvel {

enum class ErrorKind : unsigned char {
  kOk,
  // An operating-system error passed on as it is: the binding picks the OSError subclass from the
  // error number, and the message is its short form (os_short_form).
  // errnum 0 marks an error without a number; its message is its own text.
  kOs,
  kOsError,     // plain OSError with the store's own message
  kValueError,  // ValueError with the store's own message
  kNotImplemented,
  // An internal failure: the operation stops and the caller receives PanicException. When a cause
  // is attached the message is kUnwrapErrPrefix followed by the
  // cause's debug form, which only the binding can render (it is a Python repr).
  kPanic,
};

class [[nodiscard]] Status {
 public:
  Status() = default;  // success

  static Status os(int errnum);
  static Status os_text(std::string text) { return Status(ErrorKind::kOs, std::move(text)); }
  static Status os_error(std::string message) {
    return Status(ErrorKind::kOsError, std::move(message));
  }
  static Status value_error(std::string message) {
    return Status(ErrorKind::kValueError, std::move(message));
  }
  static Status not_implemented(std::string message) {
    return Status(ErrorKind::kNotImplemented, std::move(message));
  }
  static Status panic(std::string message,
                      std::source_location where = std::source_location::current());
  // kUnwrapNone: an expected value was absent.
  static Status panic_none(std::source_location where = std::source_location::current());
  // An error that was not expected here; the panic message is built from its debug form.
  static Status panic_unwrap(Status cause,
                             std::source_location where = std::source_location::current());

  // Adds a line of context shown under the message (a Python exception note), such as the file
  // that was being read; the message itself stays as it is.
  Status with_note(std::string note) && {
    note_ = std::move(note);
    return std::move(*this);
  }

  bool ok() const noexcept { return kind_ == ErrorKind::kOk; }
  ErrorKind kind() const noexcept { return kind_; }
  const std::string& message() const noexcept { return message_; }
  int os_errno() const noexcept { return errnum_; }
  // Empty when there is none.
  const std::string& note() const noexcept { return note_; }
  // Set only for kPanic made by panic_unwrap.
  const Status* cause() const noexcept { return cause_.get(); }
  const std::source_location& where() const noexcept { return where_; }

 private:
  Status(ErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  ErrorKind kind_ = ErrorKind::kOk;
  int errnum_ = 0;
  std::string message_;
  std::string note_;
  std::shared_ptr<const Status> cause_;
  std::source_location where_;
};

// A value or the Status that explains its absence.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Result(Status error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool ok() const noexcept { return state_.index() == 0; }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const Status& status() const& { return std::get<1>(state_); }
  Status&& status() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Status> state_;
};

}  // namespace zarvel
