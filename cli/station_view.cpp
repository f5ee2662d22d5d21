// station_view.cpp - the station's rows, summary and exit rule.
#include "cli/station_view.h"

#include <cstdio>
#include <cstring>

#include "cli/args.h"

namespace cli::station {

namespace {

constexpr int kBarCells = 20;

bool Succeeded(const UnitView& u) { return u.exitCode == kExitOk; }

// Appends to out (always terminated).
void Add(char* out, size_t cap, const char* format, const char* a = "", const char* b = "", const char* c = "") {
    const size_t n = std::strlen(out);
    if (n + 1 < cap) std::snprintf(out + n, cap - n, format, a, b, c);
}

// Cuts the text to columns characters, on a whole UTF-8 character.
void CutToColumns(char* text, int columns) {
    int seen = 0;
    for (char* p = text; *p != '\0'; ++p) {
        if ((static_cast<unsigned char>(*p) & 0xC0) == 0x80) continue;
        if (seen++ == columns) {
            *p = '\0';
            return;
        }
    }
}

const char* Colour(const UnitView& u) {
    if (Succeeded(u)) return "\x1b[32m";
    return u.exitCode == kExitInterrupted ? "\x1b[33m" : "\x1b[31m";
}

void RunningPart(const UnitView& u, char* out, size_t cap) {
    if (!u.started) {
        Add(out, cap, "starting");
        return;
    }
    char bar[kBarCells + 1];
    const int filled = u.permille * kBarCells / 1000;
    for (int i = 0; i < kBarCells; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kBarCells] = '\0';
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%%", u.permille / 10);
    Add(out, cap, "[%s] %s  %s", bar, percent, u.stage);
    if (u.rate > 0) {
        char rate[48];
        std::snprintf(rate, sizeof rate, ", %.1f %s/s", u.rate, u.unit);
        Add(out, cap, "%s", rate);
    }
}

void Seconds(const UnitView& u, char* out, size_t cap) {
    std::snprintf(out, cap, "%.1f s", (u.endMs - u.startMs) / 1000.0);
}

}  // namespace

int StationExit(const UnitView* units, int n) {
    int shared = kExitOk;
    for (int i = 0; i < n; ++i) {
        if (Succeeded(units[i])) continue;
        if (shared == kExitOk) {
            shared = units[i].exitCode;
        } else if (shared != units[i].exitCode) {
            return kExitStation;
        }
    }
    return shared;
}

void FormatRow(const UnitView& u, int nameWidth, int columns, bool colour, char* out, size_t cap) {
    std::snprintf(out, cap, "%-*s  ", nameWidth, u.name);
    if (!u.ended) {
        RunningPart(u, out, cap);
        CutToColumns(out, columns);
        return;
    }
    char word[48];
    std::snprintf(word, sizeof word, "%-10s", u.outcome[0] != '\0' ? u.outcome : "ended");
    Add(out, cap, "%s%s%s  ", colour ? Colour(u) : "", word, colour ? "\x1b[0m" : "");
    Add(out, cap, "%s", u.text);
    CutToColumns(out, columns + (colour ? 9 : 0));
}

void FormatCounts(const UnitView* units, int n, char* out, size_t cap) {
    int ok = 0;
    for (int i = 0; i < n; ++i) ok += Succeeded(units[i]) ? 1 : 0;
    char counts[96];
    std::snprintf(counts, sizeof counts, "station: %d of %d unit%s succeeded", ok, n, n == 1 ? "" : "s");
    std::snprintf(out, cap, "%s", counts);
    if (ok == n) {
        Add(out, cap, ": exit 0");
        return;
    }
    char failed[64];
    const int code = StationExit(units, n);
    std::snprintf(failed, sizeof failed, ", %d failed: exit %d%s", n - ok, code,
                  code == kExitStation ? " (the units failed in different ways)" : "");
    Add(out, cap, "%s", failed);
}

void FormatSummary(const UnitView* units, int n, char* out, size_t cap) {
    int width = 4;
    for (int i = 0; i < n; ++i) {
        const int length = static_cast<int>(std::strlen(units[i].name));
        if (length > width) width = length;
    }
    std::snprintf(out, cap, "%-*s  %-14s %4s  %8s  %s\n", width, "PORT", "OUTCOME", "EXIT", "TIME", "FAILURE");
    for (int i = 0; i < n; ++i) {
        const UnitView& u = units[i];
        char line[1024];
        char seconds[32];
        Seconds(u, seconds, sizeof seconds);
        const char* failure = Succeeded(u) ? "" : u.text[0] != '\0' ? u.text : u.failure;
        std::snprintf(line, sizeof line, "%-*s  %-14s %4d  %8s%s%.600s\n", width, u.name,
                      u.outcome[0] != '\0' ? u.outcome : "ended", u.exitCode, seconds, failure[0] != '\0' ? "  " : "",
                      failure);
        Add(out, cap, "%s", line);
    }
    char counts[200];
    FormatCounts(units, n, counts, sizeof counts);
    Add(out, cap, "%s\n", counts);
}

}  // namespace cli::station
