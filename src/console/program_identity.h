#pragma once

// The constant texts that name the tool: the banner shows all six, the foot of
// the HTML report shows the product name, version and author.
namespace ProgramIdentity {
inline constexpr const char* productName = "Scrivlet";
inline constexpr const char* executableName = "skv.exe";
inline constexpr const char* version = "0.8.9";
inline constexpr const char* authorName = "the Scrivlet project";
inline constexpr const char* emailAddress = "scrivlet@example.org";
inline constexpr const char* webAddress = "https://www.example.org/scrivlet/";
}  // namespace ProgramIdentity
