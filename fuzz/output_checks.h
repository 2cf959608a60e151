#pragma once

// What the fuzzing harness asks of every file a task says it wrote: that a
// strict reader takes it as it stands.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The number of fields of each record of a CSV file, read strictly: every
// record ends with CR LF; a field is bare (no double quote, comma, CR or LF)
// or quoted (its double quotes doubled, any other byte as it is). Nothing
// when the bytes are no such file.
std::optional<std::vector<std::size_t>> CsvFieldCounts(std::string_view csv);

// What is wrong with a usage report page, or nothing: every tag is one the
// report writes (so nothing from the evidence became mark-up); when the page
// is complete, the tables, rows, cells and spans it opens are closed, it
// ends with its foot, and it has visitRows visit rows. The file names of its
// images are added to images.
std::optional<std::string> HtmlProblem(std::string_view page, bool complete, long visitRows,
                                       std::vector<std::string>& images);
