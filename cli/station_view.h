// station_view.h - what a station shows of its units: one row per unit while
// they run, the summary table at the end, and the station's exit code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cli::station {

// One unit as its events have told it so far.
struct UnitView {
    char name[256] = "";   // the port as given, or simN
    char stage[200] = "";  // the progress text (the status strip's words)
    char unit[16] = "";    // what the progress counts: pages, bytes
    int permille = 0;
    double rate = 0;
    bool started = false;     // a progress event came
    bool ended = false;       // its process ended
    bool resultSeen = false;  // it said its result
    int exitCode = 0;
    char outcome[32] = "";
    char text[1024] = "";    // the result line
    char failure[512] = "";  // its first box or error: what a unit without a result line said
    uint32_t startMs = 0;
    uint32_t endMs = 0;
};

// The station's exit code: 0 when every unit succeeded, else the code that
// every failed unit shares, else kExitStation.
int StationExit(const UnitView* units, int n);

// A unit's row, cut to columns characters: the name, then while it runs the
// bar, per mille, stage and rate, once it has ended its outcome and result
// line (coloured with the terminal's codes when colour is set).
void FormatRow(const UnitView& u, int nameWidth, int columns, bool colour, char* out, size_t cap);
// The summary table: a header, one line per unit, and the counts line; into
// out as lines that each end with '\n'.
void FormatSummary(const UnitView* units, int n, char* out, size_t cap);
// "station: 3 of 4 units succeeded, 1 failed: exit 7"
void FormatCounts(const UnitView* units, int n, char* out, size_t cap);

}  // namespace cli::station
