// Conversion of settings values between the console and Windows-1252.
#include "platform/console_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#endif

#ifdef _WIN32

namespace {

constexpr UINT kWindows1252 = 1252;

// Converts between two code pages by way of UTF-16; a character the target
// lacks fails instead of turning into a look-alike or '?'.
int Convert(const std::string& text, UINT from, UINT to, std::string& out) {
  out.clear();
  if (text.empty() || from == to) {
    out = text;
    return 0;
  }
  const int wide_length = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(),
                                              static_cast<int>(text.size()), nullptr, 0);
  if (wide_length <= 0) return -1;
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), wide_length);
  // UTF-8 and UTF-7 take neither flags nor the default-character check.
  const bool unicode = to == CP_UTF8 || to == CP_UTF7;
  BOOL lossy = FALSE;
  const int length =
      WideCharToMultiByte(to, unicode ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), wide_length, nullptr,
                          0, nullptr, unicode ? nullptr : &lossy);
  if (length <= 0 || lossy) return -1;
  std::string converted(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(to, unicode ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), wide_length,
                      converted.data(), length, nullptr, nullptr);
  out = converted;
  return 0;
}

}  // namespace

// The arguments of main reach the program in the ANSI code page, whatever
// the console's: the C runtime converts the command line into it.
int ConsoleToWindows1252(const std::string& text, std::string& out) {
  return Convert(text, GetACP(), kWindows1252, out);
}

// What is printed is read in the console's output code page; without a
// console (output redirected), in the ANSI code page.
int Windows1252ToConsole(const std::string& text, std::string& out) {
  const UINT page = GetConsoleOutputCP();
  return Convert(text, kWindows1252, page != 0 ? page : GetACP(), out);
}

#else

namespace {

bool LocaleIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr &&
         (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
}

// Converts text completely with iconv; a character the target lacks, or an
// invalid sequence, fails.
int Convert(const std::string& text, const char* from, const char* to, std::string& out) {
  out.clear();
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return -1;
  std::string input = text;
  std::string converted(text.size() * 4 + 4, '\0');
  char* in = input.data();
  size_t in_left = input.size();
  char* target = converted.data();
  size_t out_left = converted.size();
  const size_t result = iconv(converter, &in, &in_left, &target, &out_left);
  iconv_close(converter);
  // glibc counts characters it replaced in the result; none may be.
  if (result != 0 || in_left != 0) return -1;
  converted.resize(converted.size() - out_left);
  out = converted;
  return 0;
}

}  // namespace

int ConsoleToWindows1252(const std::string& text, std::string& out) {
  if (!LocaleIsUtf8()) {
    out = text;
    return 0;
  }
  return Convert(text, "UTF-8", "WINDOWS-1252", out);
}

int Windows1252ToConsole(const std::string& text, std::string& out) {
  if (!LocaleIsUtf8()) {
    out = text;
    return 0;
  }
  return Convert(text, "WINDOWS-1252", "UTF-8", out);
}

#endif
