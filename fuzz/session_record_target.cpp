// Fuzz target: a session record folder as a crash or a damaged disk may
// leave it, read back by the record reader and turned into the report.
//
// Input layout: the bytes up to the first NUL are session.json; the parts
// after it, NUL-separated, are timeline.csv, trials.tsv, events.tsv and
// failures.tsv (a part that is not there leaves its file out). A plain
// session.json is thus an input of its own.
//
// Checked beyond "no crash, no hang":
//  - the record is read exactly when session.json is a whole JSON object;
//    otherwise the reason names the file;
//  - a session.json that parses writes back (Dump) to text that parses to
//    the same text again;
//  - the outcome is session.json's ("interrupted" when it has none, or says
//    "running": no process holds this record's lock);
//  - no more rows are read from a file than it has line breaks;
//  - the resume point is 0 or a trial of the claimed order that was not
//    done;
//  - the report is a whole page.

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "record/json.h"
#include "record/record_reader.h"
#include "record/session_report.h"

namespace orvanta::fuzz {
namespace {

using record::Json;

const char* const kFiles[] = {"session.json", "timeline.csv", "trials.tsv", "events.tsv",
                              "failures.tsv"};

// The record folder, made once per process and removed at its end.
struct RecordFolder {
  RecordFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvanta-fuzz-record-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    dir = pattern;
  }
  ~RecordFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  RecordFolder(const RecordFolder&) = delete;
  RecordFolder& operator=(const RecordFolder&) = delete;
  std::string In(const char* name) const { return (std::filesystem::path(dir) / name).string(); }
  std::string dir;
};

void Fail(const char* what) {
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

size_t LineBreaks(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n' ? 1 : 0;
  return n;
}

}  // namespace

int FuzzSessionRecord(const uint8_t* data, size_t size) {
  static const RecordFolder folder;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (size_t at = 0;;) {
    const size_t nul = input.find('\0', at);
    parts.push_back(input.substr(at, nul == std::string::npos ? std::string::npos : nul - at));
    if (nul == std::string::npos || parts.size() == std::size(kFiles)) break;
    at = nul + 1;
  }
  for (size_t i = 0; i < std::size(kFiles); ++i) {
    const std::string path = folder.In(kFiles[i]);
    if (i < parts.size()) {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << parts[i];
      if (!out.flush()) Fail("cannot write the record folder");
    } else {
      std::error_code ec;
      std::filesystem::remove(path, ec);
    }
  }

  Json session;
  std::string why;
  const bool parsed = Json::Parse(parts[0], session, why);
  if (parsed) {
    const std::string text = session.Dump();
    Json again;
    if (!Json::Parse(text, again, why)) Fail("a parsed value does not read back");
    if (again.Dump() != text) Fail("a parsed value does not write back the same");
  } else if (why.empty()) {
    Fail("a refused text without a reason");
  }

  record::LoadedRecord rec;
  std::string error;
  const bool loaded = record::LoadRecord(folder.dir, rec, error);
  if (loaded != (parsed && session.kind() == Json::Kind::kObject))
    Fail("read exactly when session.json is an object");
  if (!loaded) {
    if (error.rfind(folder.In("session.json") + " is not a session record: ", 0) != 0)
      Fail("the reason names session.json");
    return 0;
  }
  const std::string outcome = session["outcome"].Str("interrupted");
  if (rec.outcome != (outcome == "running" ? "interrupted" : outcome))
    Fail("the outcome is session.json's");
  const auto rowsAtMost = [&](size_t part, size_t rows) {
    const size_t lines = part < parts.size() ? LineBreaks(parts[part]) : 0;
    if (rows > (lines == 0 ? 0 : lines - 1)) Fail("more rows than whole lines after the header");
  };
  rowsAtMost(1, rec.timeline.size());
  rowsAtMost(2, rec.trials.size());
  rowsAtMost(3, rec.events.size());
  if (parts.size() > 4) rowsAtMost(4, rec.failures.size());

  const int32_t resume = record::ResumeTrial(rec);
  if (resume != 0) {
    const int64_t first = session["first_trial"].Int(1);
    const int64_t count = session["number_of_trials"].Int(0);
    if (resume < (first < 1 ? 1 : first) || resume > count)
      Fail("a resume point outside the order");
    for (const record::TrialRow& row : rec.trials) {
      if (row.trial == resume && (row.outcome == "completed" || row.outcome == "skipped"))
        Fail("a resume point at a trial that was done");
    }
  }

  const std::string html = record::BuildReportHtml(rec);
  if (html.size() < 16 || html.compare(html.size() - 16, 16, "</body>\n</html>\n") != 0)
    Fail("the report is not a whole page");
  return 0;
}

}  // namespace orvanta::fuzz
