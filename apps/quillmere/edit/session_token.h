// The secret that proves a request comes from the page the runner printed
// the address of: 128 random bits, written as 32 hexadecimal digits.
#pragma once

#include <string>

// Draws a fresh token from the system's random source. Throws RunnerError
// when the source cannot be read.
std::string NewSessionToken();

// Compares a token given with a request to the session's, in time that does
// not depend on where they first differ.
bool TokensMatch(const std::string& given, const std::string& expected);
