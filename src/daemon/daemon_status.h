// Status codes of the daemon's answers to VM commands, and the texts of the
// codes that forked wrappers and workers send back in their confirmations.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int32_t kStatusOk = 1;
inline constexpr int32_t kStatusUnsupported = -1;  // an unknown command word
inline constexpr int32_t kStatusFailed = -5;       // bad input or a failed operation

// Results of the suspend worker (and of the suspend checks in the daemon).
inline constexpr int32_t kSuspendNotSupported = -15151;  // no checkpoint entry point
inline constexpr int32_t kSuspendVolumeFailed = -15152;  // the image zvol could not be made
inline constexpr int32_t kSuspendCheckpointFailed = -15153;
inline constexpr int32_t kSuspendMarkFailed = -15154;    // image written, mark not set

inline constexpr const char* kBusyText = "Rejected, another command is executed";

// The text of a failed start as its wrapper confirmed it (negative status).
std::string wrapper_result_text(int32_t status);

// The text of a suspend worker's result.
std::string suspend_result_text(int32_t status);
