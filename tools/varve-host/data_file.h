// The controller's data file as a table: metadata blocks, column headers
// and records; conversion to CSV.
#pragma once

#include <string>
#include <vector>

namespace varvehost {

// One cell of a row: a number (its text exactly as recorded, trimmed), a
// text, or empty.
struct Cell {
    enum Kind { EMPTY, NUMBER, TEXT } kind = EMPTY;
    std::string value;
};

struct Table {
    std::vector<std::string> metadata;   // metadata lines without "//", in file order
    std::vector<std::string> columns;    // unique column names
    std::vector<std::vector<Cell>> rows; // one per record, columns.size() cells
    std::vector<double> times;           // per row: Unix seconds (UTC), NaN without a time stamp
    std::vector<std::string> problems;   // "line N: ..." for every line that is not a record
};

// Parses a data file's text (lines ending in "\r\n" or "\n").  A file
// fetched from the controller holds records only: `header_text` (metadata
// and column header, as "varve-host meta" and "header" print them) is then
// read first.
Table parse_data_file(const std::string& text, const std::string& header_text = "");

// CSV text: the metadata as "# " comment lines, then the column names,
// then one line per row (RFC 4180 quoting of texts).
std::string to_csv(const Table& t);

// ISO 8601 text of Unix seconds with milliseconds, UTC ("...Z") or with a
// fixed offset in seconds east of UTC.
std::string iso8601(long long unix_ms, int offset_s, bool with_ms);

} // namespace varvehost
