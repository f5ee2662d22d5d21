// device_clock.h - the device's calendar: day numbers from 1 January 2000,
// packed BCD, and the set and query requests.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace ops {

struct DeviceDate {
    uint8_t years;  // since 2000, modulo 256
    uint8_t month;  // 1 to 12
    uint8_t day;    // 1 to 31
};

// Every fourth year from 2000 is a leap year, 2100 included, as the device
// counts; all arithmetic is modulo 65536.
uint16_t DateToDayNumber(uint8_t years, uint8_t month, uint8_t day);
DeviceDate DayNumberToDate(uint16_t dayNumber);
uint8_t ToBcd(uint8_t value);

// DayNumber (low byte first), hour, minute, second in packed BCD.
constexpr int kClockPayloadSize = 5;
void BuildClockPayload(const platform::LocalTime& now, uint8_t* payload);

// Command 206: the PC's local time to the device; nobody waits for the answer.
// false when the transmitter could not be had.
bool SetDeviceClock();
// Command 207: the query; its answer is only logged.
bool ReadDeviceClock();

}  // namespace ops
