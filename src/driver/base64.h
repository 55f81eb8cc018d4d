// base64: the standard alphabet ("+", "/", fill "=") and the URL alphabet
// ("-", "_", fill ".").
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// The base64 text of `bytes`, filled to a multiple of four characters.
std::string base64_encode(std::string_view bytes, bool url = false);

// The bytes of `text`. Either alphabet and either fill character is accepted
// whatever `url` says, and a missing fill (or part of it) is tolerated. Throws
// std::invalid_argument with the text "If input is correct, this line should
// never be reached." for a character outside the alphabets, data after a fill
// character, a fill where no group ends, and a length that cannot encode whole
// bytes.
std::string base64_decode(std::string_view text, bool url = false);
