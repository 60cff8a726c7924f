#include <windows.h>
#include <shellapi.h>

#include <string>

#include "report/desktop_open.h"

namespace norvale {

Result<void> openWithDesktop(const std::string& path) {
  const int units = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (units <= 0) return fail(ErrorCode::InvalidArgument, path + ": not a valid path");
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), units);
  const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result <= 32) return fail(ErrorCode::NotFound, path + ": no program opens this file");
  return {};
}

}  // namespace norvale
