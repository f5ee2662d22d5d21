// serve.cpp - the serve mode: step lists read from stdin, one a line, each answered on stdout, by one driver process.
#include "verbs.h"

#include <cstdio>

namespace tqdrive {

namespace {

// One request line into its fields: tab-separated, with \t, \n and \\ escapes; UTF-8.
Args RequestFields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            char e = line[++i];
            fields.back() += e == 't' ? '\t' : e == 'n' ? '\n' : e;
        } else {
            fields.back() += c;
        }
    }
    Args out;
    for (const auto& f : fields) {
        int n = MultiByteToWideChar(CP_UTF8, 0, f.data(), (int)f.size(), nullptr, 0);
        std::wstring w((size_t)n, L'\0');
        if (n > 0) MultiByteToWideChar(CP_UTF8, 0, f.data(), (int)f.size(), &w[0], n);
        out.push_back(w);
    }
    return out;
}

}  // namespace

// A long run drives the console from one process: starting a Wine process per step
// costs far more than the step.
int Serve() {
    std::string line;
    char chunk[4096];
    while (fgets(chunk, sizeof chunk, stdin)) {
        line += chunk;
        if (line.empty() || line.back() != '\n') continue;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line == "quit") return 0;
        const Outcome out = line.empty() ? Outcome{} : RunSteps(RequestFields(line));
        Print(out.code == 0 ? "=ok" : out.code == 3 ? "=unsupported " + out.why : "=fail " + out.why);
        line.clear();
    }
    return 0;
}

}  // namespace tqdrive
