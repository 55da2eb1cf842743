#pragma once
// Asking the person at the terminal for a secret (the signing key's
// password in the publisher's tool): the answer is not echoed.

#include <optional>
#include <string>

namespace os {

// Writes prompt to the terminal and reads one line from it with echo off
// (line end removed). nullopt when the process has no terminal.
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace os
