#include "ipc/file_lock.h"

#include <fcntl.h>

#include <cerrno>

int lock_whole_file(int fd, short type, bool wait) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
#ifdef F_OFD_SETLK
  const int cmd = wait ? F_OFD_SETLKW : F_OFD_SETLK;
#else
  const int cmd = wait ? F_SETLKW : F_SETLK;
#endif
  while (::fcntl(fd, cmd, &fl) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}
