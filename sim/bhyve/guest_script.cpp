#include "sim/bhyve/guest_script.h"


#include <fmt/format.h>

#include "sim/bhyve/text_lines.h"
#include "sim/bhyve/vm_settings.h"

namespace bhyve_sim {
namespace {

std::string unescape_text(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

bool is_port(const std::string& name) {
  return name == "com1" || name == "com2" || name == "com3" || name == "com4";
}

}  // namespace

GuestScriptResult parse_guest_script(const std::string& text) {
  GuestScriptResult result;
  for (const auto& [number, line] : content_lines(text)) {
    size_t sp = line.find(' ');
    std::string word = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? "" : line.substr(sp + 1);
    ScriptStep step{ScriptStep::sleep, "", "", 0};
    if (word == "send" || word == "expect") {
      size_t sp2 = rest.find(' ');
      step.kind = word == "send" ? ScriptStep::send : ScriptStep::expect;
      step.port = rest.substr(0, sp2);
      step.text = sp2 == std::string::npos ? "" : unescape_text(rest.substr(sp2 + 1));
      if (!is_port(step.port) || step.text.empty()) {
        result.error = fmt::format("line {}: expected '{} <port> <text>'", number, word);
        return result;
      }
    } else if (word == "sleep" || word == "exit") {
      step.kind = word == "sleep" ? ScriptStep::sleep : ScriptStep::exit;
      auto n = parse_number(rest, 0, word == "sleep" ? 3600 * 1000 : 255);
      if (!n) {
        result.error = fmt::format("line {}: bad number '{}'", number, rest);
        return result;
      }
      step.number = static_cast<int>(*n);
    } else {
      result.error = fmt::format("line {}: unknown step '{}'", number, word);
      return result;
    }
    result.steps.push_back(step);
  }
  return result;
}

GuestScript::GuestScript(struct ev_loop* loop, std::vector<ScriptStep> steps,
                         std::map<std::string, SerialPort*> ports, int expect_timeout_ms,
                         std::function<void(int)> on_exit)
    : steps_(std::move(steps)),
      ports_(std::move(ports)),
      expect_timeout_ms_(expect_timeout_ms),
      on_exit_(std::move(on_exit)),
      timer_(loop) {
  timer_.set<GuestScript, &GuestScript::timer_cb>(this);
}

GuestScript::~GuestScript() { timer_.stop(); }

std::optional<std::string> GuestScript::check() const {
  for (const auto& step : steps_)
    if ((step.kind == ScriptStep::send || step.kind == ScriptStep::expect) &&
        !ports_.count(step.port))
      return fmt::format("guest script uses {}, which is not open", step.port);
  return std::nullopt;
}

void GuestScript::start() {
  running_ = true;
  run();
}

void GuestScript::on_input() {
  if (running_ && waiting_ && steps_[next_].kind == ScriptStep::expect) run();
}

void GuestScript::timer_cb(ev::timer&, int) {
  const ScriptStep& step = steps_[next_];
  if (step.kind == ScriptStep::expect) {
    fmt::print(stderr, "bhyve: guest script: gave up waiting for '{}' on {}\n", step.text,
               step.port);
    running_ = false;
    return;
  }
  waiting_ = false;
  ++next_;
  run();
}

void GuestScript::run() {
  while (running_ && next_ < steps_.size()) {
    const ScriptStep& step = steps_[next_];
    switch (step.kind) {
      case ScriptStep::send:
        if (!ports_.at(step.port)->send(step.text))
          fmt::print(stderr, "bhyve: guest script: {} refused the output\n", step.port);
        ++next_;
        break;
      case ScriptStep::expect: {
        std::string& received = ports_.at(step.port)->received();
        size_t at = received.find(step.text);
        if (at == std::string::npos) {
          if (!waiting_) {
            waiting_ = true;
            timer_.start(expect_timeout_ms_ / 1000.0, 0.0);
          }
          return;
        }
        received.erase(0, at + step.text.size());
        timer_.stop();
        waiting_ = false;
        ++next_;
        break;
      }
      case ScriptStep::sleep:
        waiting_ = true;
        timer_.start(step.number / 1000.0, 0.0);
        return;
      case ScriptStep::exit:
        running_ = false;
        on_exit_(step.number);
        return;
    }
  }
  running_ = false;
}

}  // namespace bhyve_sim
