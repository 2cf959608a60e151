#pragma once

// Menu task K: the "Internet Usage" report of Chrome's History (and of every
// browser built on Chromium, which keeps the same file) as a CSV file,
// "<reference> - <name> - Chrome Internet Usage.csv", one line per visit,
// oldest first:
//
//   Visit Date,URL,Title,Visit Count,Typed Count,Hidden,Transition,From Visit,Visit Duration
//
// The date is decoded from Chrome time in the case's date style and UTC
// offset, the transition named (page_transitions.h), the visit's duration
// given in seconds as a decimal. As in the Firefox report, the date, URL,
// title and transition are quoted fields (empty, without quotes, for NULL),
// the numbers and the Yes/No of Hidden bare; a visit whose page is missing
// has empty page texts and page numbers 0. A column that the History of the
// Chrome that wrote it lacks is an empty cell.

#include "console/case_settings.h"

class Console;

void ExportChromeUsageCsv(Console& console, const CaseSettings& settings);
