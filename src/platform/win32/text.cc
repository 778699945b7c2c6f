#include "platform/win32/text.h"

#include <algorithm>
#include <climits>

#include "platform/utf8.h"

namespace tolvanik::platform {
namespace {

// Decodes UTF-16 by hand rather than through WideCharToMultiByte, whose
// treatment of unpaired surrogates has differed between system versions.
std::optional<std::string> to_utf8(std::wstring_view wide, bool replace_unpaired) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char32_t unit = static_cast<char16_t>(wide[i]);
    if (unit < 0xD800 || unit > 0xDFFF) {
      append_utf8(unit, out);
      continue;
    }
    if (unit <= 0xDBFF && i + 1 < wide.size()) {
      const char32_t low = static_cast<char16_t>(wide[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        append_utf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
        ++i;
        continue;
      }
    }
    if (!replace_unpaired) return std::nullopt;
    append_utf8(0xFFFD, out);
  }
  return out;
}

}  // namespace

std::wstring to_wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  // Paths and names handled here are far below INT_MAX bytes.
  const int length = static_cast<int>(std::min<std::size_t>(utf8.size(), INT_MAX));
  const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
  return wide;
}

std::wstring to_wide_path(std::string_view utf8) {
  const std::wstring path = to_wide(utf8);
  if (path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\")) return path;
  // The prefixed form is taken literally, so "." and ".." and forward
  // slashes have to be resolved first; GetFullPathNameW does that and is
  // not bound by MAX_PATH.
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::optional<std::string> to_utf8_strict(std::wstring_view wide) { return to_utf8(wide, false); }

std::string to_utf8_lossy(std::wstring_view wide) { return *to_utf8(wide, true); }

std::string error_text(DWORD code) {
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length == 0) return "system error " + std::to_string(code);
  std::wstring_view text(message, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.remove_suffix(1);
  std::string utf8 = to_utf8_lossy(text);
  LocalFree(message);
  return utf8;
}

}  // namespace tolvanik::platform
