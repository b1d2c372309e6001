// Data header line, metadata block and data-field listing: printed on the
// console and appended to the data file.  printFlg 1 prints; writeFlg 1
// appends when the card is enabled; any other value counts as 0.
#pragma once

#include <cstdint>

// Data header line (built in prnBuf); 0, or 1 when a file open, seek or
// close failed.
int print_write_data_header(uint32_t printFlg, uint32_t writeFlg);
void print_data_header();
int write_data_header();
// The deployed command "gh".
void get_header();

// Metadata block with the data-field listing; 0, or 1 when the data file
// could not be written.  currentTime is not used by the block.
int print_write_metadata_header(uint32_t currentTime, uint32_t printFlg, uint32_t writeFlg);
void print_metadata_header(uint32_t currentTime);
int write_metadata_header(uint32_t currentTime);
void print_all_metadata();

// Data-field listing; padFlg 1 puts "// " before every line.
void print_write_config_data_fields(uint32_t printFlg, uint32_t writeFlg, uint32_t padFlg);
void print_config_data_fields();

// Column names of the fields that hold a text of several values (each name
// followed by its tab).  The sample record gives each of these fields exactly
// as many columns as it has names, so the record's columns stay under their
// names whatever the instrument sent.
extern const char HEADER_OPTODE[];
extern const char HEADER_CTD_SBE37[];
extern const char HEADER_CTD_AAND5860[];
extern const char HEADER_OCR[];
extern const char HEADER_PUMP[];
// Number of columns of a column-name text (its tabs).
int header_columns(const char* names);
