// Starting the operator tool Halvorn_Ini (HALVORN_INI) in a given locale, for
// the tests of the tool.
#pragma once

#include <string>
#include <vector>

#include "test/program.h"

const std::string kUtf8Locale = "LC_ALL=C.UTF-8";
const std::string kPlainLocale = "LC_ALL=C";

inline ProgramResult Tool(const std::vector<std::string>& args, const std::string& locale) {
  ProgramSpec spec;
  spec.path = HALVORN_INI;
  spec.args = args;
  spec.env = {locale};
  return RunProgram(spec);
}
