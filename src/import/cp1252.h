// The activity file is Windows-1252; the database holds UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace quelvar {

// Replaces `utf8` with `cp1252` converted. Lossless for all 256 byte values:
// the five bytes Windows-1252 leaves undefined map to the C1 controls of the
// same number.
void A_Utf8(std::string_view cp1252, std::string& utf8);

}  // namespace quelvar
