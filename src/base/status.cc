#include "base/status.h"

#include "base/compat_texts.h"

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
  return panic(std::string(kUnwrapNone), where);
}

Status Status::panic_unwrap(Status cause, std::source_location where) {
  Status status = panic(std::string(kUnwrapErrPrefix), where);
  status.cause_ = std::make_shared<const Status>(std::move(cause));
  return status;
}

}  // namespace zarvel
