#include "app/help_screen.h"

#include <string>

#include "console/console.h"
#include "console/program_identity.h"

void ShowHelp(Console& console) {
  static const char* const kText[] = {
      "This application examines the directory from which it was run for the standard",
      "named SQLite databases which Firefox 3 and Google Chrome use to store their URL",
      "history information and other information about the browsers usage.",
      "",
      "The dates and times within Firefox and Chrome are stored in various formats.",
      "This application has the ability to decode these time formats into UTC time and",
      "date with either a British or American date format. Please note this",
      "application does not correct for DST.",
      "",
      "CSV files created with this program are UTF-8 encoded.",
      "",
      "Tasks I and J look for deleted records that the databases still hold: in the",
      "free space of their pages, in pages SQLite has freed, and in the older page",
      "images of a -wal or -journal file beside them. Each record found is written",
      "with the file, the place and the byte offset where it was found, and how sure",
      "its reading is. A recovered record is what the file still holds, not what the",
      "browser showed: it may be an earlier version of a row, or part of one. The",
      "visits found are also listed in the Recovered Internet Usage report, oldest",
      "first, each with its page (live, recovered, or none found), and then the",
      "deleted pages that no visit found leads to.",
      "",
      "Tasks K and L make the Internet Usage report of a Google Chrome History file,",
      "and of the browsers built on Chrome that keep the same file: every visit,",
      "oldest first, with its page, how the user came to it and how long it was shown.",
      "",
      "If you pass skv on to anyone, please pass on with it all of the readme,",
      "licence and help documentation that came with it. skv may not be sold, on its",
      "own or together with other items, without the explicit permission of the",
      "author. If you find skv useful to yourself, your organisation or your",
      "company, please send the author a very short e-mail saying who you are, where",
      "you are and how it worked out for you. This information will never be",
      "published; it is solely for the author's own personal interest. Please send",
      nullptr,  // the e-mail address, completed below
      "",
      "This software is offered with no guarantees or warranties express or implied",
      "about the functionality of the works. Firefox, Chrome and SQLite are trademarks",
      "of their respective owners.",
      "",
      "STANDARD SQLite DATABASE NAMES",
      "^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^",
      "",
      "FIREFOX                      CHROME",
      "",
      "content-prefs.sqlite         Archived History",
      "cookies.sqlite               Cookies",
      "downloads.sqlite             History",
      "formhistory.sqlite           Thumbnails",
      "permissions.sqlite           Web Data",
      "places.sqlite",
      "search.sqlite",
      "urlclassifier2.sqlite",
      "webappsstore.sqlite",
      "",
      "STANDARD SQLite DATABASE LOCATIONS",
      "^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^^",
      "",
      "FIREFOX",
      "",
      "GNU/Linux",
      "",
      "/home/<user>/.mozilla/firefox/<profile folder>/",
      "",
      "Windows XP",
      "",
      "C:\\Documents and Settings\\<user>\\Application Data\\Mozilla\\Firefox\\Profiles\\<profile folder>\\",
      "",
      "Windows Vista",
      "",
      "C:\\Users\\<user>\\AppData\\Roaming\\Mozilla\\Firefox\\Profiles\\<profile folder>\\",
      "",
      "",
      "Where <profile folder> takes the form of ????????.default",
      "",
      "CHROME",
      "",
      "Windows XP",
      "",
      "C:\\Documents and Settings\\<user>\\Local Settings\\Application Data\\Google\\Chrome\\User Data\\Default\\",
      "",
  };

  console.PrintSectionBreak();
  for (const char* line : kText) {
    if (line != nullptr) {
      console.WriteLine(line);
    } else {
      console.WriteLine(std::string("e-mails to ") + ProgramIdentity::emailAddress + ".");
    }
  }
  console.DiscardPendingInput();
  console.WaitForEnter();
  console.PrintSectionBreak();
}
