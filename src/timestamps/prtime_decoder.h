#pragma once

#include "console/case_settings.h"

class Console;

// Menu task E: PRtime values typed one after another and shown as date text,
// until the user answers the closing question with n or N.
void RunPRtimeDecoder(Console& console, const CaseSettings& settings);
