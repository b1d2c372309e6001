// The controller's data file as a table: metadata blocks, column headers
// and records; conversion to CSV.
#pragma once

#include "tools/common/status.h"

#include <string>
#include <vector>

namespace varvehost {

using varve::Status;

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
    // Deployments: each metadata block with a deploy time of its own starts
    // one; a block repeated (a header file, a card file given again) does not.
    std::vector<std::vector<std::string>> deployment_metadata;
    std::vector<std::size_t> deployment; // per row: index into deployment_metadata
    std::size_t not_numbers = 0;         // "nan"/"inf" values, left empty
    std::size_t duplicates = 0;          // records seen before (same deployment, number and time), dropped
};

struct InputFile {
    std::string name; // for the messages ("NAME: line N: ..."); may be empty
    std::string text;
};

// Parses data files' text (lines ending in "\r\n" or "\n"), in the order
// given, into one table.  A file fetched from the controller holds records
// only: `header_text` (metadata and column header, as "varve-host meta" and
// "header" print them) is then read first.  A record that an earlier file
// already gave (same deployment, sample number and time stamp) is kept once.
Table parse_data_files(const std::vector<InputFile>& files, const std::string& header_text = "");
Table parse_data_file(const std::string& text, const std::string& header_text = "");

// `s` without leading and trailing blanks (spaces, tabs, CR, LF).
std::string trim(const std::string& s);

// The value of the metadata line that starts with `key` ("Deploy time:"),
// trimmed; "" when there is none.
std::string metadata_value(const std::vector<std::string>& metadata, const std::string& key);

// CSV text: the metadata as "# " comment lines, then the column names,
// then one line per row (RFC 4180 quoting of texts).
std::string to_csv(const Table& t);

// ISO 8601 text of Unix seconds with milliseconds, UTC ("...Z") or with a
// fixed offset in seconds east of UTC.
std::string iso8601(long long unix_ms, int offset_s, bool with_ms);

} // namespace varvehost
