// Local DOS date and time as the ZIP format stores them: time in the low 16 bits, date in the high.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// The DOS value of a broken-down local time; false when its year lies outside 1980 to 2107,
// the years a DOS date can hold.
bool DosDateTimeFromLocal(const std::tm& local, uint32_t& dos);

// A file's last-write time (seconds since the epoch) as local DOS date and time; false when
// it cannot be converted (outside the range of DOS dates).
bool FileTimeToDosDateTime(int64_t unixTime, uint32_t& dos);

// A file's last-write time as local DOS date and time, all 32 bits set when it cannot be converted.
uint32_t DosDateTimeOfFile(int64_t unixTime);

// The local DOS date and time of a moment, 0 when its year lies outside 1980 to 2099.
uint32_t DateTimeToDosDateTime(std::time_t moment);

// The current local time as DOS date and time, 0 when its year lies outside 1980 to 2099.
uint32_t NowAsDosDateTime();

}  // namespace platform

// A DOS date and time with every field out of range pulled back into it: hour at most 23,
// minute at most 59, two-second count at most 29, month 1 to 12, day at least 1, year at most
// 2099. A stamp with every field in range comes back unchanged.
uint32_t GoodTimeStamp(uint32_t dosDateTime);
