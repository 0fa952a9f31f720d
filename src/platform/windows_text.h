// What the Windows adapters share: the system's wide strings from and to the
// program's UTF-8, and its error codes as the program's failures.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/failure.h"

namespace quelvar {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A path as the system's file calls take it whatever its length: a long one
// (from MAX_PATH - 12 characters on, where folders already fail) made full
// and given the "\\?\" form, which has no such limit.
std::wstring WidePath(std::string_view utf8);

// The failure of a file operation on `path`, from GetLastError().
Failure LastErrorFailure(const std::string& path);

}  // namespace quelvar
