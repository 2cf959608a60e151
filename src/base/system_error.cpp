#include "base/system_error.h"

#include <cstring>

std::string SystemErrorText(int error) { return std::strerror(error); }
