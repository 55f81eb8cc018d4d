// One JSON-RPC exchange with a storage target on the calling thread's cached
// connection: send the request as it is, read until the answer is complete
// JSON, check that it answers this request. Every transport failure leaves the
// error object {"error":{"code":-1,"message":...}} in the answer, closes and
// forgets the connection, and gives false.
#pragma once

#include <chrono>
#include <string>

#include "nvmf/spdk_connections.h"

namespace nvmf {

bool spdk_rpc_exchange(SpdkConnections& connections, const std::string& request, std::string& answer,
                       const std::string& host);

// False (and `error` set) when the answer carries an id other than the
// request's; unparsable texts and null ids pass.
bool check_answer_id(const std::string& request, const std::string& answer, std::string& error);

// How long an exchange waits for each part of an answer (5 s); tests shorten it.
void set_spdk_answer_wait(std::chrono::milliseconds wait);

}  // namespace nvmf
