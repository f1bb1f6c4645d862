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

// The first and the last moment a DOS date and time holds: 1980-01-01 00:00:00 and 2107-12-31 23:59:58.
constexpr uint32_t kFirstDosDateTime = (1u << 21) | (1u << 16);
constexpr uint32_t kLastDosDateTime = (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
// The stamp older writers gave a time they could not convert; it is no moment at all.
constexpr uint32_t kInvalidDosDateTime = 0xFFFFFFFF;

// A file's last-write time as local DOS date and time; a time before 1980 or after 2107 comes
// out as the first or the last DOS time, as readers expect.
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
