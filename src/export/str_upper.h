// Upper-casing of texts as the program compares switches and sources.
#pragma once

#include <string>

// Upper-cases the ASCII letters a to z of text in place (every other byte,
// umlauts included, stays) and returns text.
std::string& StrUpper(std::string& text);
