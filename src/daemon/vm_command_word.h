// The command words that the command line and the pool operations send to the
// daemon for one VM, with the daemon method each one runs as.
#pragma once

#include <optional>
#include <string>

enum class VmCommandWord {
  start,
  force_start,
  stop,
  restart,
  suspend,
  suspend_pool,
  resume,
  force_resume,
  pause,
  unpause,
};

// The word of a record's "command"; nothing for any other text (the match is
// exact: "Start" is not a command word).
std::optional<VmCommandWord> parse_vm_command_word(const std::string& text);

// "start", "force_start", ... as the records carry them.
const char* vm_command_word_text(VmCommandWord word);

// The daemon method that runs the word: "vms-start" (start, force_start),
// "vms-stop", "vms-restart", "vms-suspend" (suspend, suspend_pool),
// "vms-resume" (resume, force_resume), "vms-pause", "vms-unpause".
const char* vm_command_method(VmCommandWord word);

// The forced forms: force_start and force_resume.
bool vm_command_forced(VmCommandWord word);
