// command_line.h - the firmware path from the process command line.
#pragma once

namespace shell {

// The command line without the program name and the blanks after it: a
// quoted name ends at its closing quote, an unquoted one at the first
// character at or below a blank. The rest is kept verbatim.
const char* CommandLineTail(const char* commandLine);

// Copies text into a buffer of cap bytes, cutting a longer text so that it
// ends on a whole CP932 character.
void CopyCutToFit(const char* text, char* buffer, int cap);

}  // namespace shell
