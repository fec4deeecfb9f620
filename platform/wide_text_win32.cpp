#include "platform/wide_text_win32.h"

#include <windows.h>

std::wstring Wide(const std::string& text, unsigned code_page) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                              static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(n, L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                      static_cast<int>(text.size()), &out[0], n);
  return out;
}

bool Narrow(const std::wstring& wide, unsigned code_page, std::string* out) {
  out->clear();
  if (wide.empty()) return true;
  BOOL used_default = FALSE;
  DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* used = code_page == CP_UTF8 ? nullptr : &used_default;
  int n = WideCharToMultiByte(code_page, flags, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, used);
  if (n <= 0 || used_default) return false;
  out->assign(n, '\0');
  WideCharToMultiByte(code_page, flags, wide.data(),
                      static_cast<int>(wide.size()), &(*out)[0], n, nullptr,
                      nullptr);
  return Wide(*out, code_page) == wide;
}
