// Reads lines of the host's processing script that call a filter's script
// functions, such as `Config(10,20,110,220)`, and calls the function on an
// instance.
//
// A line is a function name, a parenthesised list of decimal integers
// (optionally signed) separated by commas, and an optional `;`; blanks are
// allowed between all of these. The function is looked up by name in the
// definition's script object; its argument list ("0iiii": no result, then
// one 'i' per integer) must match the line. The function is called with the
// instance's activation as its data.
//
// Errors never crash and never call the function: they come back as one
// clear message.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "host/filter_interface.h"

struct ScriptCall {
    std::string function;
    std::vector<int> arguments;
};

// Parses one line; on a syntax error returns false and sets `error`.
bool ParseScriptLine(const std::string& line, ScriptCall& call, std::string& error);

// Parses `line` and calls the function it names on `activation`, whose
// `filter` is the definition that offers the function. Returns false and sets
// `error` when the line cannot be run.
bool RunScriptLine(FilterActivation& activation, const std::string& line, std::string& error);

// Runs every line of a script: blank lines and lines starting with `#` are
// skipped. Stops at the first line that fails, with its line number in
// `error`.
bool RunScript(FilterActivation& activation, std::istream& script, std::string& error);
