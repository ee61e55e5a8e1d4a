// Upper-casing of ASCII letters, independent of the locale.
#include "export/str_upper.h"

std::string& StrUpper(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}
