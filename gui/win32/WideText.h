#pragma once

// The core speaks UTF-8; the window's controls speak UTF-16.

#include <string>

namespace vornel::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

} // namespace vornel::win32
