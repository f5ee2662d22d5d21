// number_text.h - the number texts of the panel's edits: how one is read, and
// the longest text a control holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shell {

constexpr int kTextLimit = 256;  // every control text, terminating NUL included

// Reads edit text into a 32-bit field: a trailing lower-case h selects hex.
void ParseNumberText(const char* text, uint32_t& field);

// The edit's number, used whole or not at all: a text too long for the edit
// gets a box that names what (the edit's meaning) and false; field is then
// left as it was.
bool ReadNumberEdit(int editId, uint32_t& field, const char* what);

// A number text that means the same to every reader: decimal digits, or
// hexadecimal digits with a trailing lower-case h ("1000h", also "0x1000h"),
// at most max. Texts the edits would read differently from what they seem
// to say ("1000H" and "0x1000" are decimal 1000 and 0 there) are refused,
// with why (and a hint) in why: the command line takes its numbers so.
bool ParseExactNumberText(const char* text, uint32_t max, uint32_t& value, char* why, size_t whyCap);
// Decimal digits only, at least one.
bool AllDigits(const char* text);

}  // namespace shell
