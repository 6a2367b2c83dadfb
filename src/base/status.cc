#include "base/status.h"

#include "base/compat_texts.h"

namespace zarvel {

Status Status::system_call(int errnum) {
  Status status(ErrorKind::kSystemCall, os_short_form(errnum));
  status.errnum_ = errnum;
  return status;
}

Status Status::internal(std::string message, std::source_location where) {
  Status status(ErrorKind::kInternal, std::move(message));
  status.where_ = where;
  return status;
}

Status Status::internal_none(std::source_location where) {
  return internal(std::string(kUnwrapNone), where);
}

Status Status::internal_unwrap(Status cause, std::source_location where) {
  if (cause.kind_ == ErrorKind::kInterrupted) return cause;
  Status status = internal(std::string(kUnwrapErrPrefix), where);
  // The note says where the cause arose (which file), which stays true of the failure it causes.
  status.note_ = cause.note_;
  status.cause_ = std::make_shared<const Status>(std::move(cause));
  return status;
}

}  // namespace zarvel
