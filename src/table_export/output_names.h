#pragma once

// The one builder of output file names. Every CSV and HTML file name begins
// with the case reference and case name, exactly as typed:
// "<reference> - <name> - <rest>".

#include <string>
#include <string_view>

#include "console/case_settings.h"

// "<reference> - <name> - " followed by rest.
std::string CaseFileName(const CaseSettings& settings, std::string_view rest);

// The file of one exported table: "<reference> - <name> - <database> <table>.csv".
// The table name comes from the evidence, so it must never point outside the
// folder or stop the export: "/" and "\" become "_", and a name too long for
// the file system's 255-byte limit is shortened at a UTF-8 character
// boundary.
std::string TableFileName(const CaseSettings& settings, std::string_view databaseFile, std::string_view table);
