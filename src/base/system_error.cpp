#include "base/system_error.h"

#include "base/failure.h"

#include <cstring>

std::string SystemErrorText(int error) { return std::strerror(error); }

std::string Failure::Why() const { return error != 0 ? SystemErrorText(error) : reason; }
