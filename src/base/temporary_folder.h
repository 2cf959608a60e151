#pragma once

// The system's temporary folder, where the program keeps what must not stay
// in the evidence folder (private copies, scratch files): $TMPDIR, else /tmp.

#include <string>

std::string TemporaryFolder();
