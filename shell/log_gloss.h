// log_gloss.h - the English meaning of the console's Japanese texts, for the
// decoded views only: the operator log and the boxes keep their own texts.
#pragma once

#include <cstddef>

namespace shell {

// The English of a CP932 log line or box text that is one of the console's
// Japanese texts (with its numbers carried over: "ﾌﾞﾛｯｸ消去 3000-33FF" is
// "block erase 3000-33FF"); false, with english empty, for any other text.
bool GlossOf(const char* cp932, char* english, size_t cap);

}  // namespace shell
