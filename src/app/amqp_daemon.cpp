#include "app/amqp_daemon.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "amqp/amqp_request_reply.h"
#include "driver/config.h"
#include "driver/logger.h"
#include "ipc/mq_request.h"
#include "ipc/posix_mq.h"
#include "pool/state/pool_list.h"

namespace {

// The started pools and those whose state cannot be read.
AmqpPoolListing list_started_pools() {
  AmqpPoolListing listing;
  pool_error_map errors;
  listing.pools = find_pool(false, &errors);
  for (const auto& [pool, err] : errors) listing.errors.emplace_back(pool, std::strerror(err));
  return listing;
}

}  // namespace

int AmqpDaemon::run_as_child_of(pid_t parent) {
  parent_ = parent;
  return run();
}

void AmqpDaemon::stop_watchers() {
  queue_.stop();
  IEvProc::stop_watchers();
}

bool AmqpDaemon::init() {
  spdlog::info("***** Ombrix QTR (AMQP-daemon) pid={} started", ::getpid());
  if (!queue_.open(loop(), PosixMq::kAmqpQueue, [this](std::string text) { on_queue_message(text); }))
    return false;
  if (parent_ > 0) watch_parent(parent_);
  AmqpClient::Options options = client_options_;
  if (!options.pools) options.pools = list_started_pools;
  client_ = std::make_unique<AmqpClient>(program_name, loop(), callback_, std::move(options));
  callback_.set_refuser([this](const std::string& body, const std::string& corrid,
                               const std::string& reply_to, const std::string& cause) {
    refuse_request(body, corrid, reply_to, cause);
  });
  apply_config();
  client_->start();
  return true;
}

void AmqpDaemon::apply_config() {
  const Config& c = Config::instance();
  client_->apply_config(c.amqp_url, c.exchange, c.event_key, c.publish_queue, c.cmd_queue,
                        static_cast<uint32_t>(std::max(0, c.heartbeats)));
}

void AmqpDaemon::refuse_request(const std::string& body, const std::string& corrid,
                                const std::string& reply_to, const std::string& cause) {
  std::string why;
  auto reply = refuse_amqp_request(body, corrid, reply_to, Config::instance().publish_queue, cause, &why);
  if (!reply) {
    spdlog::error("### AMQP request corrid={} is not answered: {}", corrid, why);
    return;
  }
  if (client_) client_->publish_reply(reply->corrid, reply->message, reply->reply_queue);
}

void AmqpDaemon::on_loop_finished() {
  if (client_) client_->stop();
  client_.reset();
  queue_.close(stopped_by_signal_);
  spdlog::info("## Ombrix QTR (AMQP-daemon) pid={} ends", ::getpid());
}

void AmqpDaemon::on_sighup() {
  Config& config = Config::instance();
  config.load();
  set_log_level(config.effective_log_level());
  // An address that the client cannot use is not applied: the working
  // connection stays.
  std::string refused = config.amqp_error;
  if (refused.empty()) {
    if (auto error = AmqpClient::address_error(config.amqp_url))
      refused = fmt::format("bad AMQP host '{}' ({})", config.amqp_host, *error);
  }
  if (!refused.empty()) {
    spdlog::error("### amqp:config: {}. The AMQP address is not applied", refused);
    return;
  }
  spdlog::info("## amqp:config: the configuration is read again");
  if (!client_) return;
  apply_config();
  client_->reload();
}

void AmqpDaemon::on_sigint() {
  stopped_by_signal_ = true;
  end_loop(0);
}

void AmqpDaemon::on_sigterm() {
  stopped_by_signal_ = true;
  end_loop(0);
}

void AmqpDaemon::on_queue_message(const std::string& text) {
  std::string error;
  auto request = parse_mq_request(text, &error);
  if (!request) {
    spdlog::error("### IPC. Bad record on '{}': {}", PosixMq::kAmqpQueue, error);
    return;
  }
  if (!client_) return;
  if (request->corrid == kPoolControlCorrid)
    client_->pool_control(request->reply_queue, request->message);
  else
    client_->publish_reply(request->corrid, request->message, request->reply_queue);
}
