#include "timestamps/prtime_decoder.h"

#include <string>

#include "console/console.h"
#include "timestamps/timestamp_decoding.h"

void RunPRtimeDecoder(Console& console, const CaseSettings& settings) {
  console.PrintSectionBreak();
  std::string value;
  std::string answer;
  do {
    console.WriteLine();
    console.WriteLine();
    console.Write("PRtime to decode: ");
    console.ReadAnswer(value);
    const std::string decoded = DecodePRtime(value, settings);
    console.WriteLine();
    if (decoded == value) {
      // An unchanged text is how the decoding says it recognised no PRtime.
      console.WriteLine(value + " is not a correctly formated PRtime.");
      console.Write("Should be 16 digit integer.");
    } else {
      console.Write(value + " = " + decoded);
    }
    console.WriteLine();
    console.WriteLine();
    console.Write("Decode another? [Y] : ");
    console.ReadAnswer(answer);
  } while (answer != "n" && answer != "N");
}
