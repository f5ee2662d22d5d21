// number_text.h - the number texts of the panel's edits: how one is read, and
// the longest text a control holds.
#pragma once

#include <cstdint>

namespace shell {

constexpr int kTextLimit = 256;  // every control text, terminating NUL included

// Reads edit text into a 32-bit field: a trailing lower-case h selects hex.
void ParseNumberText(const char* text, uint32_t& field);

// The edit's number, used whole or not at all: a text too long for the edit
// gets a box that names what (the edit's meaning) and false; field is then
// left as it was.
bool ReadNumberEdit(int editId, uint32_t& field, const char* what);

}  // namespace shell
