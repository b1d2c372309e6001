// Data header line, metadata block and data-field listing: printed on the
// console and appended to the data file.  printFlg 1 prints; writeFlg 1
// appends when the card is enabled; any other value counts as 0.
#pragma once

#include "records/data_fields.h"

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

// The column names (HEADER_OPTODE, ...) and header_columns lie with the data
// fields' table.
