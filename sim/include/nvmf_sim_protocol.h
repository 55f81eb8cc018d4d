// What the stand-in storage target (spdk_tgt) and the stand-in NVMe-oF
// initiator service (nvmf_initiator) share with their callers.
//
// The target speaks JSON-RPC 2.0 over TCP: every request is one JSON object,
// several may follow one another on one connection without any framing, and
// every answer is one JSON object carrying the request's "id". Besides the
// storage methods it keeps these of its own:
//
//   sim_fault    {"method", "kind", "code", "message", "times", "delay_ms", "value"}
//                the next "times" requests of "method" ("*" = any; -1 times =
//                for ever) are answered wrongly: kind "error" (code/message),
//                "split" (the answer in two writes delay_ms apart), "silent"
//                (no answer), "wrong_id", "invalid_json", "exact_64k" (an answer
//                of exactly 65536 bytes), "close" (the connection is closed)
//   sim_requests {"clear": bool}  the storage methods received, in order
//   sim_stats    {}   {"connections": accepted connections}
//   sim_connect  {"nqn", "hostnqn"}  a host connects: one more controller;
//                answers {"cntlid", "filename"} (the namespace's file)
//   sim_disconnect {"nqn", "hostnqn"}  that host's controller goes
//
// The initiator service answers one JSON-RPC request per connection on its
// Unix socket ("create", "destroy", "list", and "sim_fault" {"kind",
// "message", "delay_ms", "times"} with the kinds "error", "split", "close" and
// "raw": the answer is "message" as it is).
//
// Both take their host root and ports from sim_host.h.
#pragma once

namespace nvmf_sim {

inline constexpr int kTargetRpcPort = 7000;
inline constexpr int kSubsystemPort = 4420;
inline constexpr const char* kInitiatorSocket = "/var/run/ombrix_nvmf_initiator.sock";

}  // namespace nvmf_sim
