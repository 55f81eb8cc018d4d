#include "daemon/pending_commands.h"

bool PendingCommands::try_add(PendingCommand command) {
  std::string id = command.vm_id;
  return entries_.emplace(std::move(id), std::move(command)).second;
}

PendingCommand* PendingCommands::find(const std::string& vm_id) {
  auto it = entries_.find(vm_id);
  return it == entries_.end() ? nullptr : &it->second;
}

std::optional<PendingCommand> PendingCommands::take(const std::string& vm_id) {
  auto it = entries_.find(vm_id);
  if (it == entries_.end()) return std::nullopt;
  PendingCommand command = std::move(it->second);
  entries_.erase(it);
  return command;
}

std::vector<std::string> PendingCommands::expired(double now) const {
  std::vector<std::string> ids;
  for (const auto& [id, command] : entries_)
    if (command.deadline <= now) ids.push_back(id);
  return ids;
}

std::vector<std::string> PendingCommands::ids() const {
  std::vector<std::string> ids;
  for (const auto& [id, command] : entries_) ids.push_back(id);
  return ids;
}
