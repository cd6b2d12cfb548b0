// Text conversions of the command: the library speaks Windows-1251, the terminal UTF-8.
#pragma once

#include <string>

namespace ludrex_tool {

std::string Cp1251ToUtf8(const std::string& in);
std::string Utf8ToCp1251(const std::string& in);

}  // namespace ludrex_tool
