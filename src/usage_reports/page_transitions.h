#pragma once

// Chrome's page transition of a visit, in words: the core type (the low
// byte: how the user came to the page) and its qualifiers (the high bits),
// as Chrome's history keeps them in visits.transition.

#include <cstdint>
#include <string>

// Appends the core type's name, then each qualifier set, lowest bit first,
// each after "; ": "Link; Chain Start; Server Redirect". A value with a core
// type or a qualifier bit that has no name is appended as the number it is
// stored as: nothing is guessed. The stored value is Chrome's 32 bits, kept
// as a signed integer (a server redirect reads as negative).
void AppendTransitionText(std::string& out, std::int64_t stored);
