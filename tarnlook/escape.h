// Text taken from files (header values, file names) made safe to show: in
// a terminal, on a web page and in a CSV table.
#ifndef TARNLOOK_ESCAPE_H
#define TARNLOOK_ESCAPE_H

#include <string>

namespace tarnlook {

// The bytes as printable ASCII, one form wherever they are shown: a byte
// from 0x20 to 0x7E stands as it is, except the backslash, which is
// doubled ("\\"); any other byte (control characters, DEL, every byte of a
// UTF-8 sequence) becomes "\xNN" with two upper-case hex digits. The form
// can be read back without ambiguity, and nothing of it reaches a terminal
// as a control sequence.
std::string visible(const std::string& bytes);

// `text` as HTML text and as a quoted attribute value: '&', '<', '>', '"'
// and '\'' become character references; every other byte is kept.
std::string htmlText(const std::string& text);

// `text` as one field of an RFC 4180 line: as it is when it holds no comma,
// double quote, CR or LF and does not begin or end with a blank; else
// between double quotes, each double quote doubled.
std::string csvField(const std::string& text);

}  // namespace tarnlook

#endif  // TARNLOOK_ESCAPE_H
