// The list type of the IPC interfaces: ordered lists of byte strings (names, values).
#pragma once

#include <string>
#include <vector>

using TStringList = std::vector<std::string>;
