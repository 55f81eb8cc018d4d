#include "daemon/cli_answer.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "ipc/fifo_writer.h"

std::string format_cli_answer(const std::string& vm_id, int64_t status, const std::string& text) {
  return fmt::format("VM_id={} finish Status={}\n{}{}", vm_id, status, text,
                     status == 1 ? kAnswerOk : kAnswerFailed);
}

std::string send_cli_answer(const std::string& fifo, const std::string& vm_id, int64_t status,
                            const std::string& text) {
  spdlog::info("<<< VM_id={} finish Status={} {}", vm_id, status, text);
  if (fifo.empty()) return {};
  std::string error = fifo_write_answer(fifo, format_cli_answer(vm_id, status, text));
  if (!error.empty()) spdlog::warn("### IPC. VM_id={} the answer is lost: {}", vm_id, error);
  return error;
}
