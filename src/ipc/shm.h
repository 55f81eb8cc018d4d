// The shared-memory objects of one VM:
//
//   vm        "/qtr.vm.<id>"               the VM's runtime record (JSON text)
//   reconfig  "/bhyve.vm.<id>.reconfig"    objects of the hypervisor
//   devices   "/bhyve.vm.<id>.devices"
//
// Object names go through the host root's IPC naming. A text is replaced as a
// whole: the writer holds a write lock on the object while it sets the size
// and writes, readers hold a read lock while they read, so a reader of this
// class never sees half a text. (A process that ignores the locks, such as
// the hypervisor on its own objects, may.) Where the host refuses locks on
// shared memory the texts are read and written without them.
#pragma once

#include <string>

#include "ipc/unique_fd.h"

enum class ShmKind { vm, reconfig, devices };

// "vm", "reconfig" or "devices".
const char* shm_kind_name(ShmKind kind);

class Shm {
 public:
  // Opens the VM's object of that kind, creating it (empty) when missing.
  Shm(const std::string& vm_id, ShmKind kind);

  bool is_open() const { return fd_.valid(); }
  // Why the open or the last write failed; "" when they did not.
  const std::string& error() const { return error_; }

  // The whole text; "" when the object is empty or not open. The text ends at
  // the first NUL byte, if any.
  std::string read() const;

  // Replaces the contents by `text`; false (error() says why) on failure.
  bool write(const std::string& text);

  // The object's real name ("/qtr.vm.<id>", ...), before IPC naming.
  static std::string object_name(const std::string& vm_id, ShmKind kind);

  static bool exists(const std::string& vm_id, ShmKind kind);
  // The text of an existing object; "" when there is none. Never creates it.
  static std::string load_text(const std::string& vm_id, ShmKind kind);
  // Removes the object; false when there was none or it could not be removed.
  static bool unlink(const std::string& vm_id, ShmKind kind);

 private:
  UniqueFd fd_;
  std::string name_;
  std::string error_;
};
