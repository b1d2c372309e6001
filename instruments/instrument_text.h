// Text-buffer helpers shared by the instrument drivers.  Every driver owns a
// 128-byte buffer that the sample record embeds as a terminated text, so
// whatever ends a transaction leaves at most 127 characters and a NUL there.
#pragma once

#include <cstddef>

constexpr std::size_t INSTRUMENT_BUF_SIZE = 128;
constexpr unsigned int INSTRUMENT_TEXT_MAX = INSTRUMENT_BUF_SIZE - 1;

// Ends the reply collected in buf[0..len): a NUL after the stored bytes, and
// the text cut at the first carriage return or line feed, so that the
// record line is never split by a reply that lacked its own carriage return.
inline void instrument_text_end(char* buf, unsigned int len)
{
    if (len > INSTRUMENT_TEXT_MAX) {
        len = INSTRUMENT_TEXT_MAX;
    }
    buf[len] = '\0';
    for (unsigned int i = 0; i < len && buf[i] != '\0'; ++i) {
        if (buf[i] == '\r' || buf[i] == '\n') {
            buf[i] = '\0';
            break;
        }
    }
}

// Puts a fixed text into the buffer, cut to 127 characters.
inline void instrument_text_set(char* buf, const char* text)
{
    unsigned int i = 0;
    for (; i < INSTRUMENT_TEXT_MAX && text[i] != '\0'; ++i) {
        buf[i] = text[i];
    }
    buf[i] = '\0';
}
