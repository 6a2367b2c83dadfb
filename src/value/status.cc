#include "value/status.h"

#include <cstring>

namespace zarvel {

Status Status::os(int errnum) {
  Status status(ErrorKind::kOs, os_short_form(errnum));
  status.errnum_ = errnum;
  return status;
}

Status Status::panic(std::string message, std::source_location where) {
  Status status(ErrorKind::kPanic, std::move(message));
  status.where_ = where;
  return status;
}

Status Status::panic_none(std::source_location where) {
  return panic("called `Option::unwrap()` on a `None` value", where);
}

Status Status::panic_unwrap(Status cause, std::source_location where) {
  Status status = panic("called `Result::unwrap()` on an `Err` value: ", where);
  status.cause_ = std::make_shared<const Status>(std::move(cause));
  return status;
}

std::string os_short_form(int errnum) {
  return std::string(std::strerror(errnum)) + " (os error " + std::to_string(errnum) + ")";
}

}  // namespace zarvel
