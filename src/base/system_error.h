#pragma once

// The system's own words for an error number, as every message of the tool
// gives them ("No space left on device", "Permission denied").

#include <string>

std::string SystemErrorText(int error);
