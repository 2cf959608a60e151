#pragma once

// Menu task C: the "Internet Usage" report of places.sqlite as a CSV file,
// "<reference> - <name> - Internet Usage.csv", one line per visit, oldest
// first:
//
//   Visit Date,URL,Title,Visit Count,Typed,Hidden,Frecency,From Visit,Visit Type,Session
//
// The date, URL and title are quoted fields (empty, without quotes, for
// NULL); the numbers and Yes/No flags are bare. The header is written even
// when there are no visits.

#include "console/case_settings.h"

class Console;

void ExportUsageCsv(Console& console, const CaseSettings& settings);
