// json_read.h - the fields of one JSON object on one line, as tq73's own
// events write them: what a station reads of each unit's output.
#pragma once

#include <cstddef>

namespace cli {

// The string field key of the object on line, unescaped into out (UTF-8,
// cut on a whole character to fit cap); false when the object has no such
// string field or is not an object.
bool JsonReadString(const char* line, const char* key, char* out, size_t cap);
// The number field key; false when there is none.
bool JsonReadNumber(const char* line, const char* key, double& value);

}  // namespace cli
