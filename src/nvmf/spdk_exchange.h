// One JSON-RPC exchange with a storage target on the calling thread's cached
// connection: send the request as it is, read until the answer is complete
// JSON (within one deadline and a size limit), check that it answers this
// request. Every transport failure leaves the
// error object {"error":{"code":-1,"message":...}} in the answer, closes and
// forgets the connection, and gives false.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "nvmf/spdk_connections.h"

namespace nvmf {

bool spdk_rpc_exchange(SpdkConnections& connections, const std::string& request, std::string& answer,
                       const std::string& host);

// False (and `error` set) when the answer carries an id other than the
// request's; unparsable texts and null ids pass.
bool check_answer_id(const std::string& request, const std::string& answer, std::string& error);

// How long one exchange may take as a whole, connect included (5 s); tests
// shorten it.
void set_spdk_answer_wait(std::chrono::milliseconds wait);

// The largest answer read; a longer one is an incomplete answer.
inline constexpr size_t default_spdk_answer_limit = 16u << 20;
void set_spdk_answer_limit(size_t bytes);

}  // namespace nvmf
