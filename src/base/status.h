// The error value of the core: every fallible operation below the binding returns a Status or a
// Result<T>. A Status says what went wrong, not how a caller hears of it: src/binding/errors.cc
// gives each kind its Python exception class.
#pragma once

#include <concepts>
#include <memory>
#include <source_location>
#include <string>
#include <utility>
#include <variant>

namespace zarvel {

enum class ErrorKind : unsigned char {
  kOk,
  // A system call failed, passed on as it is: the error number and the system's short text for it
  // (os_short_form). Error number 0 marks a failure without one (a short
  // write, a path the kernel cannot take), whose message is its own text.
  kSystemCall,
  // A file could not be opened, created or renamed; the message names the step and the cause.
  kFileOperation,
  // Stored or imported content is corrupt or has the wrong form: JSON that cannot be read or
  // written, a document that is not what the operation takes.
  kBadContent,
  // A named thing, such as a collection, does not exist.
  kNotFound,
  // An argument no operation takes: an invalid collection name, a malformed query.
  kInvalidArgument,
  // A value of a kind the operation does not take, such as a list element that is not a document.
  kWrongType,
  // An internal failure: the operation stops and the store stays usable. When a cause is attached
  // the message is kUnwrapErrPrefix followed by the cause's debug
  // form, which only the binding can render (it is a Python repr).
  kInternal,
  // The caller asked the operation to stop (an Interrupt), and it stopped having changed nothing.
  // The caller holds the reason: the binding raises the Python exception already pending.
  kInterrupted,
};

class [[nodiscard]] Status {
 public:
  Status() = default;  // success

  static Status system_call(int errnum);
  // A failed system call that gave no error number.
  static Status system_call(std::string message) {
    return Status(ErrorKind::kSystemCall, std::move(message));
  }
  static Status file_operation(std::string message) {
    return Status(ErrorKind::kFileOperation, std::move(message));
  }
  static Status bad_content(std::string message) {
    return Status(ErrorKind::kBadContent, std::move(message));
  }
  static Status not_found(std::string message) {
    return Status(ErrorKind::kNotFound, std::move(message));
  }
  static Status invalid_argument(std::string message) {
    return Status(ErrorKind::kInvalidArgument, std::move(message));
  }
  static Status wrong_type(std::string message) {
    return Status(ErrorKind::kWrongType, std::move(message));
  }
  static Status interrupted() { return Status(ErrorKind::kInterrupted, "interrupted"); }
  static Status internal(std::string message,
                         std::source_location where = std::source_location::current());
  // kUnwrapNone: an expected value was absent.
  static Status internal_none(std::source_location where = std::source_location::current());
  // An error that was not expected here; the message is built from its debug form. An
  // interruption is never one: it is returned as it is.
  static Status internal_unwrap(Status cause,
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
  // Set only for kInternal made by internal_unwrap.
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

// A value or the error that explains its absence: a Status, or the error type of a layer that
// carries errors of its own (a conversion from Python carries the Python exception).
template <typename T, typename E = Status>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Result(E error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool ok() const noexcept { return state_.index() == 0; }
  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const E& error() const& { return std::get<1>(state_); }
  E&& error() && { return std::get<1>(std::move(state_)); }
  // The error of a Result with a Status, by the name the core uses for it.
  const Status& status() const&
    requires std::same_as<E, Status>
  {
    return error();
  }
  Status&& status() &&
        requires std::same_as<E, Status>
  {
    return std::move(*this).error();
  }

 private:
  std::variant<T, E> state_;
};

}  // namespace zarvel
