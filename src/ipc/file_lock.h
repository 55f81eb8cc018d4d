// Advisory record locks over a whole file. Where the host offers locks owned
// by the open file description (Linux's F_OFD_SETLK), those are used: two
// descriptors of one process then exclude each other like two processes do,
// and closing some other descriptor of the same file does not drop the lock.
// Elsewhere they are classic per-process fcntl locks.
#pragma once

// `type` is F_RDLCK, F_WRLCK or F_UNLCK; with `wait` the call waits for a
// conflicting lock to go. Returns 0, or the errno of the failure (EAGAIN or
// EACCES: held by someone else).
int lock_whole_file(int fd, short type, bool wait);
