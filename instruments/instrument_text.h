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
// Other control bytes and bytes above 0x7E (line noise, an instrument's
// ESC or BEL) become '?': the text goes to the console and the data file,
// where it must stay printable; a tab separates fields and is kept.
inline void instrument_text_end(char* buf, unsigned int len)
{
    if (len > INSTRUMENT_TEXT_MAX) {
        len = INSTRUMENT_TEXT_MAX;
    }
    buf[len] = '\0';
    for (unsigned int i = 0; i < len && buf[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(buf[i]);
        if (c == '\r' || c == '\n') {
            buf[i] = '\0';
            break;
        }
        if ((c < 0x20 && c != '\t') || c > 0x7E) {
            buf[i] = '?';
        }
    }
}

// Appends a text to the terminated text in buf, cut to 127 characters.
inline void instrument_text_append(char* buf, const char* text)
{
    unsigned int i = 0;
    while (i < INSTRUMENT_TEXT_MAX && buf[i] != '\0') {
        ++i;
    }
    for (; i < INSTRUMENT_TEXT_MAX && *text != '\0'; ++i, ++text) {
        buf[i] = *text;
    }
    buf[i] = '\0';
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
