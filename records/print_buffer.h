// The shared print buffer: the text of one sample record or data header,
// built once for the console and the data file.
#pragma once

extern char prnBuf[1024];
