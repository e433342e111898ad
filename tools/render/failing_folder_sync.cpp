// For the whole-program tests: fsync that fails on a folder with EIO, as a
// file system whose disk fails after the files were renamed would, and
// works as usual on anything else.  Loaded ahead of the C library with
// LD_PRELOAD, so that the program itself is the one under test.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

extern "C" int fsync(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EIO;
    return -1;
  }
  using Fsync = int (*)(int);
  void* found = ::dlsym(RTLD_NEXT, "fsync");
  Fsync real = nullptr;
  std::memcpy(&real, &found, sizeof real);
  return real != nullptr ? real(fd) : (errno = ENOSYS, -1);
}
