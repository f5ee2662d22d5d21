// device_clock.cpp - day numbers, BCD and the clock requests.
#include "operations/device_clock.h"

#include "link/command_library.h"
#include "link/frame.h"

namespace ops {

namespace {

constexpr uint8_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr uint16_t kDaysPerCycle = 1461;  // four years, one of them leap
constexpr uint16_t kDaysPerYear = 365;

uint16_t MonthLength(int month, bool leap) {
    return static_cast<uint16_t>(kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0));
}

}  // namespace

uint16_t DateToDayNumber(uint8_t years, uint8_t month, uint8_t day) {
    uint16_t n = static_cast<uint16_t>((years / 4) * kDaysPerCycle + (years % 4) * kDaysPerYear);
    const bool leap = years % 4 == 0;
    if (!leap) n = static_cast<uint16_t>(n + 1);  // the cycle's leap day lies behind
    for (int m = 1; m < month && m <= 12; ++m) n = static_cast<uint16_t>(n + MonthLength(m, leap));
    return static_cast<uint16_t>(n + day - 1);
}

DeviceDate DayNumberToDate(uint16_t dayNumber) {
    int years = (dayNumber / kDaysPerCycle) * 4;
    int rest = dayNumber % kDaysPerCycle;
    const bool leap = rest <= kDaysPerYear;
    if (rest >= kDaysPerYear + 1) {
        rest -= 1;
        years += rest / kDaysPerYear;
        rest %= kDaysPerYear;
    }
    for (int month = 1; month <= 12; ++month) {
        const int day = rest + 1;
        rest -= MonthLength(month, leap);
        if (rest < 0) {
            return DeviceDate{static_cast<uint8_t>(years), static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
        }
    }
    return DeviceDate{static_cast<uint8_t>(years), 12, 31};  // not reached: rest < 366
}

uint8_t ToBcd(uint8_t value) { return static_cast<uint8_t>((value / 10) * 16 + value % 10); }

void BuildClockPayload(const platform::LocalTime& now, uint8_t* payload) {
    const uint8_t years = static_cast<uint8_t>(now.year - 2000);
    const uint16_t n = DateToDayNumber(years, static_cast<uint8_t>(now.month), static_cast<uint8_t>(now.day));
    payload[0] = static_cast<uint8_t>(n);
    payload[1] = static_cast<uint8_t>(n >> 8);
    payload[2] = ToBcd(static_cast<uint8_t>(now.hour));
    payload[3] = ToBcd(static_cast<uint8_t>(now.minute));
    payload[4] = ToBcd(static_cast<uint8_t>(now.second));
}

bool SetDeviceClock() {
    wire::TransmitterLock tx(true);
    if (!tx.held()) return false;
    BuildClockPayload(platform::NowLocal(), wire::TransmitFrame.data() + 4);
    wire::SendFrame(wire::kSetClockRequest, kClockPayloadSize);
    return true;
}

bool ReadDeviceClock() { return wire::SendEmptyRequest(wire::kClockQueryRequest, true); }

}  // namespace ops
