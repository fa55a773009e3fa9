// A value the user gave (a path, an option's text, a script's character)
// quoted for an error message. Control characters are written as escapes
// (\n, \r, \t, \xHH) so that a message stays on one line whatever the value.
#pragma once

#include <string>
#include <string_view>

// 'value', with control characters escaped.
std::string Quoted(std::string_view value);

// The value with control characters escaped, without the quotes.
std::string EscapeControlCharacters(std::string_view value);
