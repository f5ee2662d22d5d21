// json.h - one JSON object on one line, built in a fixed buffer. Whatever is
// added, the line stays a valid object: a string that would not fit is cut on
// a whole UTF-8 character and a field that would not fit is left out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cli {

// Room for the longest event: the usage text of --json --help.
constexpr size_t kJsonLineSize = 8192;

struct JsonLine {
    char text[kJsonLineSize];
    size_t length;
    bool cut;  // something did not fit
};

// {"event":"<event>"
void JsonBegin(JsonLine& line, const char* event);
// {"<key>":"<value>": an object that is not an event.
void JsonBeginObject(JsonLine& line, const char* key, const char* utf8);
// "key":"value" with the value JSON-escaped (UTF-8 passes through; control
// characters, quotes and backslashes are escaped).
void JsonString(JsonLine& line, const char* key, const char* utf8);
void JsonInt(JsonLine& line, const char* key, long long value);
// A number with the given digits after the point.
void JsonNumber(JsonLine& line, const char* key, double value, int decimals);
void JsonBool(JsonLine& line, const char* key, bool value);
// An object's fields, added to inner with the calls above after
// JsonFields(inner), then put into line as "key":{...}.
void JsonFields(JsonLine& inner);
void JsonObject(JsonLine& line, const char* key, const JsonLine& inner);
// Closes the object and ends the line with '\n'.
void JsonEnd(JsonLine& line);

}  // namespace cli
