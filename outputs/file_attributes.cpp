#include "outputs/file_attributes.h"

#include <attr/error_context.h>
#include <attr/libattr.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "outputs/output_error.h"

namespace outputs {
namespace {

// libattr reports each failure through this; the first errno is kept.
struct FirstError {
  error_context context;
  int error = 0;
};

void note_error(error_context* context, const char* /*format*/, ...) {
  auto* first = reinterpret_cast<FirstError*>(context);
  if (first->error == 0) first->error = errno;
}

// Everything but what the table marks as one file system's own: the access
// list is copied with the rest, as an attribute.
int is_copied(const char* name, error_context* context) {
  return attr_copy_action(name, context) == ATTR_ACTION_SKIP ? 0 : 1;
}

}  // namespace

void copy_extended_attributes(int from_fd, int to_fd, const std::string& for_name) {
  // A new file takes its folder's default access list; the file it
  // replaces may have had none, and then neither has the replacement (the
  // old file's own list, if any, is copied below).
  constexpr const char* kAccessList = "system.posix_acl_access";
  if (::fgetxattr(to_fd, kAccessList, nullptr, 0) >= 0 && ::fremovexattr(to_fd, kAccessList) != 0) {
    const int error = errno;
    throw OutputError("cannot write " + in_quotes(for_name) + ": the access list its folder gives new files cannot be "
                          "taken off (" + std::strerror(error) + "), so it was left as it was",
                      error);
  }
  FirstError first{{note_error, nullptr, nullptr}, 0};
  errno = 0;
  if (attr_copy_fd(for_name.c_str(), from_fd, for_name.c_str(), to_fd, is_copied, &first.context) == 0) return;
  const int error = first.error != 0 ? first.error : (errno != 0 ? errno : EIO);
  throw OutputError("cannot write " + in_quotes(for_name) +
                        ": its extended attributes (its access list among them) cannot be kept (" +
                        std::strerror(error) + "), so it was left as it was",
                    error);
}

}  // namespace outputs
