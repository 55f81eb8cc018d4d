// The pool history line that the storage library records after every change:
// "ombrix-vm", a verb padded to its width, and what the change was about.
#pragma once

#include <string>
#include <string_view>

#include "storage/zfs_session.h"

namespace history_verb {

inline constexpr std::string_view create_vol = " create vol ";
inline constexpr std::string_view destroy = " destroy    ";
inline constexpr std::string_view create_fs = " create fs  ";
inline constexpr std::string_view mount_fs = " mount fs   ";
inline constexpr std::string_view clone_fs = " clone fs   ";
inline constexpr std::string_view clone_vol = " clone  vol ";
inline constexpr std::string_view rename_fs = " rename fs ";
inline constexpr std::string_view unmountall = " unmountall ";
inline constexpr std::string_view snapshot = " snapshot   ";
inline constexpr std::string_view destroyall = " destroyall ";
inline constexpr std::string_view rollback = " rollback   ";
inline constexpr std::string_view send = " send       ";
inline constexpr std::string_view send_error = " send error ";
inline constexpr std::string_view receive_in = " receive in ";
inline constexpr std::string_view receive_error = " receive error ";
inline constexpr std::string_view create_pool = " create pool: ";
inline constexpr std::string_view rollback_failed_create = " rollback of failed create: ";
inline constexpr std::string_view add_vdev = " add vdev to pool: ";
inline constexpr std::string_view export_pool = " export pool: ";
inline constexpr std::string_view import_pool = " import pool: ";

// Between a new name and its origin (clones), and an old and a new name.
inline constexpr std::string_view clone_separator = " <== ";
inline constexpr std::string_view rename_separator = " => ";

}  // namespace history_verb

// "ombrix-vm" + verb + what; nothing else (no date, no newline).
std::string pool_history_line(std::string_view verb, std::string_view what);

// Appends the line to the pool history through the session's handle; the
// outcome is not looked at.
void log_pool_history(const zfs_session& session, std::string_view verb, std::string_view what);
