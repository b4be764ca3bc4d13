// The file in which the daemon tells other local components where it listens (option -i), and
// the platform simulator where its name service listens. They read it as it is, so it holds
// the address's bytes and nothing else.
#pragma once

#include <string>

// Creates or truncates fileName (mode 0664) and writes the address into it, with no
// terminator or newline. A file that cannot be opened or written is traced as an error
// ("Could not write IS address to '<file>'") and otherwise ignored: the platform's name
// service still knows the address, so serving goes on. True when the file holds the
// address. Never throws.
bool WriteAddressFile(const std::string& fileName, const std::string& address);
