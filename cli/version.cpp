// version.cpp - what tq73 --version prints: the program, the project's
// version and the commit it was built from. Alone in its file, so that a new
// commit compiles this file again and nothing else of tq73.
#include "cli/args.h"

#include "tq_commit.h"
#include "tq_version.h"

namespace cli {

const char* VersionText() { return "tq73 " TQ_VERSION " (commit " TQ_COMMIT ")\n"; }
const char* VersionNumber() { return TQ_VERSION; }
const char* VersionCommit() { return TQ_COMMIT; }

}  // namespace cli
