#include "platform/dostime.h"

#include <algorithm>

namespace platform {

bool DosDateTimeFromLocal(const std::tm& local, uint32_t& dos) {
    int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) return false;
    // A leap second (23:59:60, which zones that count them give) would make the invalid field 30.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    uint32_t time = static_cast<uint32_t>(local.tm_hour * 2048 + local.tm_min * 32 + second / 2);
    uint32_t date = static_cast<uint32_t>((year - 1980) * 512 + (local.tm_mon + 1) * 32 + local.tm_mday);
    dos = (date << 16) | time;
    return true;
}

bool FileTimeToDosDateTime(int64_t unixTime, uint32_t& dos) {
    std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm local{};
    if (!localtime_r(&t, &local)) return false;
    return DosDateTimeFromLocal(local, dos);
}

uint32_t DosDateTimeOfFile(int64_t unixTime) {
    uint32_t dos;
    if (FileTimeToDosDateTime(unixTime, dos)) return dos;
    // A time too far out even for a broken-down year is on the side its sign gives.
    std::time_t t = static_cast<std::time_t>(unixTime);
    std::tm local{};
    const bool early = localtime_r(&t, &local) ? local.tm_year + 1900 < 1980 : unixTime < 0;
    return early ? kFirstDosDateTime : kLastDosDateTime;
}

uint32_t DateTimeToDosDateTime(std::time_t moment) {
    std::tm local{};
    uint32_t dos = 0;
    if (!localtime_r(&moment, &local) || local.tm_year + 1900 > 2099 || !DosDateTimeFromLocal(local, dos))
        return 0;
    return dos;
}

uint32_t NowAsDosDateTime() { return DateTimeToDosDateTime(std::time(nullptr)); }

}  // namespace platform

uint32_t GoodTimeStamp(uint32_t value) {
    uint32_t hour = std::min<uint32_t>((value >> 11) & 31, 23);
    uint32_t minute = std::min<uint32_t>((value >> 5) & 63, 59);
    uint32_t second2 = std::min<uint32_t>(value & 31, 29);
    uint32_t date = value >> 16;
    uint32_t day = std::max<uint32_t>(date & 31, 1);
    uint32_t month = std::clamp<uint32_t>((date >> 5) & 15, 1, 12);
    uint32_t year = std::min<uint32_t>(date >> 9, 2099 - 1980);
    return (year << 25) | (month << 21) | (day << 16) | (hour << 11) | (minute << 5) | second2;
}
