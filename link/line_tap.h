// line_tap.h - every byte that goes out on the line or comes in, handed to
// whoever records the line (tq73 --capture): a frame or a boot-mode step at a
// time, as the link writes it and as the receiver takes it.
#pragma once

#include <cstdint>

namespace wire {

enum class TapDirection : uint8_t { ToDevice = 0, FromDevice = 1 };

// bootMode: the receiver hands over single bytes (the boot-mode protocol).
// Called on the thread that writes or reads, with the bytes only for the
// call's length; the tap takes its own lock.
using LineTap = void (*)(TapDirection direction, bool bootMode, const uint8_t* bytes, int count);

// nullptr: nothing is tapped. Set before the port opens, cleared after it closed.
void SetLineTap(LineTap tap);
void TapLine(TapDirection direction, const uint8_t* bytes, int count);

}  // namespace wire
