#include "bhwrap/cloudinit/metadata_protocol.h"

#include <spdlog/logger.h>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/metadata_document.h"
#include "bhwrap/cloudinit/metadata_frame.h"
#include "bhwrap/cloudinit/metadata_lookup.h"

namespace {

std::string answer(const std::string& request_id, const char* word, std::string argument) {
  return MetadataFrame::compose(MetadataFrame::seal({request_id, word, std::move(argument)}));
}

}  // namespace

bool Cloudinit::make_metadata() {
  std::optional<nlohmann::json> document = make_metadata_document(vm_config_, user_data_);
  if (!document) return false;
  metadata_ = std::move(*document);
  return true;
}

std::pair<std::string, std::string> Cloudinit::handle_request(const std::string& line) {
  std::string tag;
  std::string response = kMetadataInvalid;
  logger_->debug("CloudInit: VM_id={}  request: '{}'", vm_id_, line);
  try {
    if (line.starts_with(kMetadataNegotiate)) {
      tag = kMetadataNegotiate;
      response = make_metadata() ? kMetadataNegotiated : kMetadataFailure;
    } else if (line.starts_with(kMetadataFramePrefix)) {
      std::optional<MetadataFrame> frame = MetadataFrame::parse(line);
      if (frame && MetadataFrame::check(*frame)) {
        const MetadataBody& request = frame->body;
        if (request.word == "GET") {
          tag = request.argument;
          logger_->info("Cloudinit: VM_id={} GET: '{}'", vm_id_, tag);
          std::string value = metadata_lookup(metadata_, tag);
          if (value.empty()) {
            logger_->info("Cloudinit: VM_id={} NOTFOUND: {}", vm_id_, tag);
            response = answer(request.request_id, "NOTFOUND", "");
          } else {
            logger_->info("Cloudinit: VM_id={} ANS: {}", vm_id_, value);
            response = answer(request.request_id, "SUCCESS", std::move(value));
          }
        } else if (request.word == "KEYS") {
          response = answer(request.request_id, "SUCCESS", metadata_keys(metadata_));
        }
      }
    }
  } catch (const std::exception& e) {
    // A request the document cannot answer is refused on the line, never fatal.
    tag.clear();
    response = kMetadataInvalid;
    logger_->info("Cloudinit: VM_id={} request failed: {}", vm_id_, e.what());
  }
  logger_->debug("CloudInit: VM_id={} response: '{}'", vm_id_, response);
  return {tag, response};
}
