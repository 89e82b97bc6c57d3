#pragma once
// CSV as spreadsheet programs read it (RFC 4180): fields between separators,
// quoted fields with doubled quotes and line breaks inside, CR LF after each
// record, a leading apostrophe taken as the mark of a text cell and not
// shown. An independent reading of what the station and its tool write.
#include <string>
#include <vector>

namespace kv::test {

std::vector<std::vector<std::string>> ReadCsvRecords(const std::string& text, char separator);

} // namespace kv::test
