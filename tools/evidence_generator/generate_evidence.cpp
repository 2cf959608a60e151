// skv-evidence: writes a folder of sample evidence, the fifteen databases of
// Firefox 3 and early Google Chrome with the browsers' own schemas and
// deterministic, realistic rows: a browsing history over a few hosts, with
// bookmarks, cookies, downloads, form history and favicons.
//
//   skv-evidence [--visits N] [--places P] [--favicons F] [--seed S] FOLDER
//
// The same arguments always give the same files, byte for byte.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "evidence_generator/browser_database.h"
#include "evidence_generator/favicon_images.h"

namespace {

struct Options {
  std::int64_t visits = 600;
  std::int64_t places = 150;
  std::int64_t favicons = 24;
  std::uint64_t seed = 1;
  std::filesystem::path folder;
};

// 2008-06-17 00:00:00 UTC, the day Firefox 3 was released.
constexpr std::int64_t kFirstVisit = 1213660800;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

std::int64_t PRtime(std::int64_t seconds, std::int64_t micros) { return seconds * 1000000 + micros; }
std::int64_t ChromeTime(std::int64_t seconds, std::int64_t micros) {
  return (seconds + kSecondsFrom1601To1970) * 1000000 + micros;
}

// A generator whose numbers do not depend on the standard library's
// distributions, which differ between implementations.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  std::int64_t Below(std::int64_t bound) { return static_cast<std::int64_t>(engine_() % static_cast<std::uint64_t>(bound)); }
  bool Chance(int percent) { return Below(100) < percent; }

 private:
  std::mt19937_64 engine_;
};

const char* const kWords[] = {"news",   "mail",  "shop",   "forum", "bank",   "maps",   "video",
                              "wiki",   "travel", "weather", "sports", "music", "photos", "blog",
                              "search", "cloud", "jobs",   "recipes", "games", "books"};
const char* const kDomains[] = {"example.com", "example.org", "example.net"};
const char* const kPaths[] = {"pages", "article", "view", "item", "story", "page", "results", "profile"};

struct Host {
  std::string name;
};

struct Place {
  std::string url;
  std::string title;  // empty: NULL
  bool hasTitle = true;
  std::size_t host = 0;
  std::int64_t visitCount = 0;
  std::int64_t lastVisit = 0;  // seconds
  bool typed = false;
  bool hidden = false;
};

std::string Word(Random& random) { return kWords[random.Below(std::size(kWords))]; }

std::vector<Host> MakeHosts(std::int64_t places) {
  const std::int64_t count = std::max<std::int64_t>(3, std::min<std::int64_t>(places / 5, 5000));
  std::vector<Host> hosts;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t word = i % static_cast<std::int64_t>(std::size(kWords));
    const std::int64_t round = i / static_cast<std::int64_t>(std::size(kWords));
    std::string name = round == 0 ? "www." : "";
    name += kWords[word];
    if (round > 0) name += std::to_string(round);
    name += ".";
    name += kDomains[i % 3];
    hosts.push_back({name});
  }
  return hosts;
}

// Titles as examiners meet them: plain, with quotes and mark-up characters,
// in other scripts, very long, empty or missing.
std::string MakeTitle(Random& random, const std::string& host, std::int64_t id, bool& hasTitle) {
  hasTitle = true;
  switch (random.Below(20)) {
    case 0: hasTitle = false; return {};
    case 1: return "Search results for \"" + Word(random) + "\", page " + std::to_string(id % 9 + 1);
    case 2: return "Caf\xC3\xA9 & cr\xC3\xAA" "pes \xE2\x80\x94 " + host;
    case 3: return "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x9A\xE3\x83\xBC\xE3\x82\xB8 " + std::to_string(id);
    case 4: return "A very long title about " + Word(random) + " and " + Word(random) +
                   " that goes on well past fifty bytes, page " + std::to_string(id);
    case 5: return "<" + Word(random) + "> tags & 'quotes' in a title";
    default: {
      // Named after the site: "www.news2.example.com" gives "News".
      std::string word = host.substr(host.starts_with("www.") ? 4 : 0);
      word = word.substr(0, word.find_first_of(".0123456789"));
      word[0] = static_cast<char>(word[0] - 'a' + 'A');
      return word + " \xE2\x80\x93 item " + std::to_string(id) + " | " + host;
    }
  }
}

std::string ReversedHost(const std::string& host) { return std::string(host.rbegin(), host.rend()) + "."; }

std::vector<Place> MakePlaces(Random& random, const std::vector<Host>& hosts, std::int64_t count) {
  std::vector<Place> places;
  places.reserve(static_cast<std::size_t>(count));
  for (std::int64_t id = 1; id <= count; ++id) {
    Place place;
    place.host = id <= static_cast<std::int64_t>(hosts.size()) ? static_cast<std::size_t>(id - 1)
                                                               : static_cast<std::size_t>(random.Below(static_cast<std::int64_t>(hosts.size())));
    const std::string& host = hosts[place.host].name;
    if (id <= static_cast<std::int64_t>(hosts.size())) {
      place.url = "http://" + host + "/";
    } else {
      place.url = "http://" + host + "/" + kPaths[random.Below(std::size(kPaths))] + "/" + std::to_string(id);
      if (random.Chance(15)) place.url += "?q=" + Word(random) + "+" + Word(random) + "&sid=" + std::to_string(random.Below(1000000000));
      if (random.Chance(5)) place.url += "&ref=" + std::string(80, 'x');
    }
    place.title = MakeTitle(random, host, id, place.hasTitle);
    places.push_back(std::move(place));
  }
  return places;
}

struct Visit {
  std::int64_t place;  // index into the places
  std::int64_t seconds;
  std::int64_t micros;
  std::int64_t fromVisit;
  int type;
  std::int64_t session;
};

// Firefox 3 visit types: 1 link, 2 typed, 3 bookmark, 4 embed, 5 and 6 redirects, 7 download.
int VisitType(Random& random) {
  const std::int64_t r = random.Below(100);
  if (r < 70) return 1;
  if (r < 82) return 2;
  if (r < 88) return 3;
  if (r < 92) return 5;
  if (r < 96) return 6;
  if (r < 98) return 4;
  return 7;
}

void WriteFirefoxPlaces(const Options& options, Random& random, std::vector<Place>& places,
                        const std::vector<Host>& hosts, std::vector<Visit>& visits) {
  BrowserDatabase db((options.folder / "places.sqlite").string(), "firefox3/places.sql");
  db.Execute("BEGIN");

  // Favicons, one per host for the first hosts, each with an image.
  Insert favicon(db, "INSERT INTO moz_favicons VALUES (?, ?, ?, ?, ?)");
  for (std::int64_t id = 1; id <= options.favicons; ++id) {
    const std::string& host = hosts[static_cast<std::size_t>((id - 1) % static_cast<std::int64_t>(hosts.size()))].name;
    const FaviconImage image = MakeFaviconImage(static_cast<int>(id - 1), static_cast<std::uint8_t>(random.Below(200)),
                                                static_cast<std::uint8_t>(random.Below(200)),
                                                static_cast<std::uint8_t>(random.Below(200)));
    favicon.Int(id).Text("http://" + host + "/favicon" + std::to_string(id) + ".ico").Blob(image.bytes)
        .Text(image.mimeType).Int(PRtime(kFirstVisit + 86400 * 365 * 3, 0)).Run();
  }

  // Visits, oldest first, in sessions; later visits follow links from earlier ones.
  Insert visit(db, "INSERT INTO moz_historyvisits VALUES (?, ?, ?, ?, ?, ?)");
  std::int64_t seconds = kFirstVisit;
  std::int64_t session = 1;
  visits.reserve(static_cast<std::size_t>(options.visits));
  for (std::int64_t id = 1; id <= options.visits; ++id) {
    const std::int64_t gap = random.Chance(3) ? 3600 + random.Below(86400) : 1 + random.Below(300);
    seconds += gap;
    if (gap > 1800) ++session;
    Visit v{};
    v.place = random.Below(static_cast<std::int64_t>(places.size()));
    v.seconds = seconds;
    v.micros = random.Below(1000000);
    v.type = VisitType(random);
    v.fromVisit = gap <= 1800 && id > 1 && random.Chance(60) ? id - 1 : 0;
    v.session = session;
    Place& place = places[static_cast<std::size_t>(v.place)];
    if (v.type != 4 && v.type != 7) ++place.visitCount;
    place.typed |= v.type == 2;
    place.hidden |= v.type == 4;
    place.lastVisit = seconds;
    visit.Int(id).Int(v.fromVisit).Int(v.place + 1).Int(PRtime(v.seconds, v.micros)).Int(v.type).Int(v.session).Run();
    visits.push_back(v);
  }

  Insert place(db, "INSERT INTO moz_places VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  for (std::size_t i = 0; i < places.size(); ++i) {
    const Place& p = places[i];
    place.Int(static_cast<std::int64_t>(i) + 1).Text(p.url);
    if (p.hasTitle) {
      place.Text(p.title);
    } else {
      place.Null();
    }
    place.Text(ReversedHost(hosts[p.host].name)).Int(p.visitCount).Int(p.hidden).Int(p.typed);
    if (options.favicons > 0 && p.host < static_cast<std::size_t>(options.favicons)) {
      place.Int(static_cast<std::int64_t>(p.host) + 1);
    } else {
      place.Null();
    }
    place.Int(p.visitCount == 0 ? -1 : p.visitCount * 100 + (p.typed ? 2000 : 0)).Run();
  }

  // Bookmarks: the roots, a folder, and a few pages, with their annotations.
  const std::int64_t added = PRtime(kFirstVisit + 3600, 123456);
  db.Execute("INSERT INTO moz_bookmarks_roots VALUES ('places', 1), ('menu', 2), ('toolbar', 3), ('tags', 4), "
             "('unfiled', 5)");
  Insert bookmark(db, "INSERT INTO moz_bookmarks VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  const char* const roots[] = {"", "Bookmarks Menu", "Bookmarks Toolbar", "Tags", "Unsorted Bookmarks"};
  for (int id = 1; id <= 5; ++id) {
    bookmark.Int(id).Int(2).Null().Int(id == 1 ? 0 : 1).Int(id - 2 < 0 ? 0 : id - 2).Text(roots[id - 1]).Null().Null()
        .Int(added).Int(added).Run();
  }
  const std::int64_t marks = std::min<std::int64_t>(12, static_cast<std::int64_t>(places.size()));
  for (std::int64_t i = 0; i < marks; ++i) {
    bookmark.Int(6 + i).Int(1).Int(i + 1).Int(2 + i % 2).Int(i / 2).Text(places[static_cast<std::size_t>(i)].title)
        .Null().Null().Int(added + i * 7000000).Int(added + i * 9000000).Run();
  }
  db.Execute("INSERT INTO moz_keywords (keyword) VALUES ('news'), ('wiki')");
  db.Execute("UPDATE moz_bookmarks SET keyword_id = 1 WHERE id = 6");
  db.Execute("INSERT INTO moz_anno_attributes VALUES (1, 'bookmarkProperties/description'), "
             "(2, 'URIProperties/characterSet')");
  Insert itemAnno(db, "INSERT INTO moz_items_annos VALUES (?, ?, 1, NULL, ?, 0, 4, 3, ?, ?)");
  for (std::int64_t i = 0; i < std::min<std::int64_t>(marks, 4); ++i) {
    itemAnno.Int(i + 1).Int(6 + i).Text("Bookmarked for the case, \"see notes\"").Int(added + i).Int(added + i + 60000000).Run();
  }
  Insert anno(db, "INSERT INTO moz_annos VALUES (?, ?, 2, NULL, 'UTF-8', 0, 4, 3, ?, ?)");
  for (std::int64_t i = 0; i < marks; ++i) anno.Int(i + 1).Int(i + 1).Int(added + i).Int(added + i + 1000).Run();
  Insert input(db, "INSERT INTO moz_inputhistory VALUES (?, ?, ?)");
  for (std::int64_t i = 0; i < marks; ++i) {
    input.Int(i + 1).Text(hosts[places[static_cast<std::size_t>(i)].host].name.substr(0, 3 + i % 4)).Int(1 + i % 3).Run();
  }
  db.Execute("COMMIT");
  db.Finish();
}

void WriteFirefoxSmallDatabases(const Options& options, Random& random, const std::vector<Place>& places,
                                const std::vector<Host>& hosts) {
  const std::filesystem::path& folder = options.folder;
  const std::int64_t day = 86400;
  {
    BrowserDatabase db((folder / "cookies.sqlite").string(), "firefox3/cookies.sql");
    Insert cookie(db, "INSERT INTO moz_cookies VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (std::int64_t i = 0; i < std::min<std::int64_t>(40, static_cast<std::int64_t>(hosts.size()) * 2); ++i) {
      const std::string& host = hosts[static_cast<std::size_t>(i) % hosts.size()].name;
      cookie.Int(i + 1).Text(i % 2 ? "session_id" : "prefs").Text(std::to_string(random.Below(1000000000)))
          .Text(host.substr(host.find('.'))).Text("/").Int(kFirstVisit + 365 * day + i)
          .Int(PRtime(kFirstVisit + i * day, random.Below(1000000))).Int(i % 3 == 0).Int(i % 4 == 0).Run();
    }
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "downloads.sqlite").string(), "firefox3/downloads.sql");
    Insert download(db, "INSERT INTO moz_downloads VALUES (?, ?, ?, ?, '', ?, ?, ?, ?, '', ?, ?, ?, NULL, 0, 0)");
    const char* const names[] = {"report.pdf", "setup.exe", "holiday photos.zip", "r\xC3\xA9sum\xC3\xA9.doc", "song.mp3"};
    const char* const types[] = {"application/pdf", "application/octet-stream", "application/zip", "application/msword",
                                 "audio/mpeg"};
    for (int i = 0; i < 5; ++i) {
      const std::string& host = hosts[static_cast<std::size_t>(i) % hosts.size()].name;
      const std::int64_t start = kFirstVisit + (i + 1) * 3 * day;
      const std::int64_t size = 10000 + random.Below(5000000);
      download.Int(i + 1).Text(names[i]).Text("http://" + host + "/files/" + names[i])
          .Text(std::string("file:///C:/Documents%20and%20Settings/examinee/Desktop/") + names[i])
          .Int(PRtime(start, random.Below(1000000))).Int(PRtime(start + 20 + i * 40, random.Below(1000000)))
          .Int(i == 2 ? 3 : 1).Text("http://" + host + "/").Int(i == 2 ? size / 2 : size).Int(size).Text(types[i]).Run();
    }
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "formhistory.sqlite").string(), "firefox3/formhistory.sql");
    Insert entry(db, "INSERT INTO moz_formhistory VALUES (?, ?, ?)");
    const char* const fields[][2] = {{"q", "cheap flights"}, {"q", "how to delete history"}, {"email", "examinee@example.com"},
                                     {"searchbar-history", "weather tomorrow"}, {"name", "J. \"Jo\" Doe"}};
    for (int i = 0; i < 5; ++i) entry.Int(i + 1).Text(fields[i][0]).Text(fields[i][1]).Run();
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "permissions.sqlite").string(), "firefox3/permissions.sql");
    Insert host(db, "INSERT INTO moz_hosts VALUES (?, ?, ?, ?)");
    for (int i = 0; i < 4; ++i) host.Int(i + 1).Text(hosts[static_cast<std::size_t>(i) % hosts.size()].name).Text(i % 2 ? "popup" : "cookie").Int(1 + i % 2).Run();
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "content-prefs.sqlite").string(), "firefox3/content-prefs.sql");
    db.Execute("INSERT INTO groups VALUES (1, '" + hosts[0].name + "');"
               "INSERT INTO settings VALUES (1, 'browser.content.full-zoom');"
               "INSERT INTO prefs VALUES (1, 1, 1, 1.2), (2, NULL, 1, 1);");
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "search.sqlite").string(), "firefox3/search.sql");
    db.Execute("INSERT INTO engine_data VALUES (1, '[app]/google.xml', 'order', '1'), "
               "(2, '[profile]/example-search.xml', 'alias', 'ex');");
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "urlclassifier2.sqlite").string(), "firefox3/urlclassifier2.sql");
    db.Execute("INSERT INTO goog_black_url VALUES ('uggc://onq.rknzcyr.pbz/', '1');");
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "urlclassifier3.sqlite").string(), "firefox3/urlclassifier3.sql");
    db.Execute("INSERT INTO moz_tables VALUES (1, 'goog-phish-shavar', '1-3', ''), (2, 'goog-malware-shavar', '1', '');"
               "INSERT INTO moz_classifier VALUES (1, X'0A0B0C0D', X'01020304', NULL, 1, 1);");
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "webappsstore.sqlite").string(), "firefox3/webappsstore.sql");
    db.Execute("INSERT INTO webappsstore VALUES ('moc.elpmaxe.www', 'lastSeen', '" + std::to_string(kFirstVisit) +
               "', 0, 'moc.elpmaxe.www');");
    db.Finish();
  }
  (void)places;
}

// Chrome 2.0 transitions: the core type in the low byte, chain flags above.
std::int64_t Transition(int firefoxType) {
  const std::int64_t chain = 0x30000000;
  switch (firefoxType) {
    case 2: return 1 | chain;  // typed
    case 3: return 2 | chain;  // auto bookmark
    case 5: case 6: return 0 | 0x40000000;  // client redirect
    case 4: return 3 | chain;  // auto subframe
    default: return 0 | chain;  // link
  }
}

void WriteChromeHistory(const Options& options, Random& random, const std::vector<Place>& places,
                        const std::vector<Host>& hosts, const std::vector<Visit>& visits) {
  BrowserDatabase db((options.folder / "History").string(), "chrome/history.sql");
  db.Execute("BEGIN");
  Insert url(db, "INSERT INTO urls VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  for (std::size_t i = 0; i < places.size(); ++i) {
    const Place& p = places[i];
    // The page's icon in Thumbnails, as places.sqlite names it.
    const bool hasIcon = options.favicons > 0 && p.host < static_cast<std::size_t>(options.favicons);
    url.Int(static_cast<std::int64_t>(i) + 1).Text(p.url).Text(p.hasTitle ? p.title : "").Int(p.visitCount).Int(p.typed)
        .Int(ChromeTime(p.lastVisit == 0 ? kFirstVisit : p.lastVisit, 0)).Int(p.hidden)
        .Int(hasIcon ? static_cast<std::int64_t>(p.host) + 1 : 0).Run();
  }
  Insert visit(db, "INSERT INTO visits VALUES (?, ?, ?, ?, ?, 0, 1)");
  for (std::size_t i = 0; i < visits.size(); ++i) {
    const Visit& v = visits[i];
    visit.Int(static_cast<std::int64_t>(i) + 1).Int(v.place + 1).Int(ChromeTime(v.seconds, v.micros)).Int(v.fromVisit)
        .Int(Transition(v.type)).Run();
  }
  Insert download(db, "INSERT INTO downloads VALUES (?, ?, ?, ?, ?, ?, ?)");
  for (int i = 0; i < 3; ++i) {
    const std::string& host = hosts[static_cast<std::size_t>(i) % hosts.size()].name;
    const std::int64_t size = 1000 + random.Below(100000);
    download.Int(i + 1).Text("C:\\Users\\examinee\\Downloads\\file" + std::to_string(i) + ".zip")
        .Text("http://" + host + "/file" + std::to_string(i) + ".zip").Int(kFirstVisit + (i + 2) * 86400)
        .Int(size).Int(size).Int(1).Run();
  }
  db.Execute("INSERT INTO keyword_search_terms VALUES (2, 1, 'cheap flights', 'Cheap flights');"
             "INSERT INTO segments VALUES (1, 'http://" + hosts[0].name + "/', 1, -1);"
             "INSERT INTO segment_usage VALUES (1, 1, " + std::to_string(ChromeTime(kFirstVisit, 0)) + ", 3);");
  db.Execute("COMMIT");
  db.Finish();
}

void WriteChromeSmallDatabases(const Options& options, Random& random, const std::vector<Place>& places,
                               const std::vector<Host>& hosts) {
  const std::filesystem::path& folder = options.folder;
  {
    BrowserDatabase db((folder / "Archived History").string(), "chrome/archived_history.sql");
    Insert url(db, "INSERT INTO urls VALUES (?, ?, ?, 1, 0, ?, 0, 0)");
    Insert visit(db, "INSERT INTO visits VALUES (?, ?, ?, 0, 805306368, 0, 1)");
    for (int i = 0; i < std::min<int>(5, static_cast<int>(places.size())); ++i) {
      const std::int64_t when = ChromeTime(kFirstVisit - 100 * 86400 + i * 3600, random.Below(1000000));
      url.Int(i + 1).Text(places[static_cast<std::size_t>(i)].url).Text(places[static_cast<std::size_t>(i)].title).Int(when).Run();
      visit.Int(i + 1).Int(i + 1).Int(when).Run();
    }
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "Cookies").string(), "chrome/cookies.sql");
    Insert cookie(db, "INSERT INTO cookies VALUES (?, ?, ?, ?, '/', ?, ?, ?, ?)");
    for (int i = 0; i < std::min<int>(10, static_cast<int>(hosts.size())); ++i) {
      const std::int64_t created = ChromeTime(kFirstVisit + i * 86400, random.Below(1000000));
      const std::string& host = hosts[static_cast<std::size_t>(i)].name;
      cookie.Int(created).Text(host.substr(host.find('.'))).Text("id").Text(std::to_string(random.Below(1000000)))
          .Int(created + 365LL * 86400 * 1000000).Int(i % 2).Int(i % 3 == 0).Int(created + 5000000).Run();
    }
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "Thumbnails").string(), "chrome/thumbnails.sql");
    Insert favicon(db, "INSERT INTO favicons VALUES (?, ?, ?, ?)");
    Insert thumbnail(db, "INSERT INTO thumbnails VALUES (?, 1.0, 1, 0, ?, ?)");
    // One icon per host for the first hosts, as in places.sqlite; a
    // thumbnail of the first pages.
    for (std::int64_t i = 0; i < options.favicons; ++i) {
      const FaviconImage image = MakeFaviconImage(static_cast<int>(i), static_cast<std::uint8_t>(40 * i), 90, 160);
      favicon.Int(i + 1).Text("http://" + hosts[static_cast<std::size_t>(i) % hosts.size()].name + "/favicon.ico")
          .Int(kFirstVisit + i * 86400).Blob(image.bytes).Run();
      if (i < 4) thumbnail.Int(i + 1).Int(kFirstVisit + i * 86400).Blob(image.bytes).Run();
    }
    db.Finish();
  }
  {
    BrowserDatabase db((folder / "Web Data").string(), "chrome/web_data.sql");
    db.Execute("INSERT INTO keywords (id, short_name, keyword, favicon_url, url, show_in_default_list, "
               "safe_for_autoreplace, date_created, usage_count, prepopulate_id) VALUES "
               "(1, 'Example Search', 'example.com', 'http://www.example.com/favicon.ico', "
               "'http://www.example.com/search?q={searchTerms}', 1, 1, " + std::to_string(kFirstVisit) + ", 4, 0), "
               "(2, 'Wiki', 'wiki', '', 'http://www.wiki.example.org/?s={searchTerms}', 1, 0, " +
               std::to_string(kFirstVisit + 86400) + ", 1, 0);");
    db.Execute("INSERT INTO logins VALUES ('http://www.mail.example.com/login', 'http://www.mail.example.com/auth', "
               "'user', 'examinee', 'pass', X'01000000D08C9DDF0115D1118C7A00C04FC297EB', '', "
               "'http://www.mail.example.com/', 1, 1, " + std::to_string(kFirstVisit + 2 * 86400) + ", 0, 0);");
    db.Execute("INSERT INTO autofill VALUES ('email', 'examinee@example.com', 'examinee@example.com', 1, 3);"
               "INSERT INTO autofill_dates VALUES (1, " + std::to_string(kFirstVisit + 3 * 86400) + ");");
    db.Finish();
  }
}

bool ReadNumber(const char* text, auto& value) {
  const char* end = text + std::char_traits<char>::length(text);
  auto [stop, error] = std::from_chars(text, end, value);
  return error == std::errc() && stop == end;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    const bool hasValue = i + 1 < argc;
    bool ok = true;
    if (flag == "--visits" && hasValue) {
      ok = ReadNumber(argv[++i], options.visits) && options.visits >= 0;
    } else if (flag == "--places" && hasValue) {
      ok = ReadNumber(argv[++i], options.places) && options.places >= 1;
    } else if (flag == "--favicons" && hasValue) {
      ok = ReadNumber(argv[++i], options.favicons) && options.favicons >= 0;
    } else if (flag == "--seed" && hasValue) {
      ok = ReadNumber(argv[++i], options.seed);
    } else if (!flag.starts_with("--") && options.folder.empty()) {
      options.folder = flag;
    } else {
      ok = false;
    }
    if (!ok) return false;
  }
  return !options.folder.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << "usage: skv-evidence [--visits N] [--places P] [--favicons F] [--seed S] FOLDER\n";
    return 2;
  }
  try {
    std::filesystem::create_directories(options.folder);
    for (const char* name :
         {"content-prefs.sqlite", "cookies.sqlite", "downloads.sqlite", "formhistory.sqlite", "permissions.sqlite",
          "places.sqlite", "search.sqlite", "urlclassifier2.sqlite", "urlclassifier3.sqlite", "webappsstore.sqlite",
          "Archived History", "Cookies", "History", "Thumbnails", "Web Data"}) {
      std::filesystem::remove(options.folder / name);
    }
    Random random(options.seed);
    const std::vector<Host> hosts = MakeHosts(options.places);
    std::vector<Place> places = MakePlaces(random, hosts, options.places);
    std::vector<Visit> visits;
    WriteFirefoxPlaces(options, random, places, hosts, visits);
    WriteFirefoxSmallDatabases(options, random, places, hosts);
    WriteChromeHistory(options, random, places, hosts, visits);
    WriteChromeSmallDatabases(options, random, places, hosts);
  } catch (const std::exception& error) {
    std::cerr << "skv-evidence: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
