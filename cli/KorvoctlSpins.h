// korvoctl's spin preset and EEPROM burn operations: the same writes, read-backs and messages
// as the spin window, with the CHGEN confirmations asked at the terminal (or answered by --yes).
#pragma once

#include <string>
#include <string_view>

class RegisterAccess;

// Exit code of a spin: success only when the preset went in exactly as stored.
int KorvoctlSpin(RegisterAccess& access, std::string_view caption);
// Exit code of a burn: success only when both test-mode writes succeeded.
int KorvoctlBurn(RegisterAccess& access);

// The usage error for a caption that names no spin button.
std::string UnknownSpinText(const std::string& caption);
// The --help lines of the two operations.
std::string KorvoctlSpinUsage();
