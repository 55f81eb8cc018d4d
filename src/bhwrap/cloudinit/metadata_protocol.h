// The guest metadata protocol, served by Cloudinit::handle_request (defined in
// metadata_protocol.cpp): one request line in, one response line out.
//
//   "NEGOTIATE V2..."             -> "V2_OK" (document rebuilt) or "FAILURE"
//   V2 frame, GET <base64 key>    -> V2 frame, SUCCESS <base64 value> or NOTFOUND
//   V2 frame, KEYS                -> V2 frame, SUCCESS <base64 key list>
//   anything else                 -> "invalid command"
#pragma once

inline constexpr const char* kMetadataNegotiate = "NEGOTIATE V2";
inline constexpr const char* kMetadataNegotiated = "V2_OK";
inline constexpr const char* kMetadataFailure = "FAILURE";
inline constexpr const char* kMetadataInvalid = "invalid command";
