#include "platform/dostime.h"

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

uint32_t DateTimeToDosDateTime(std::time_t moment) {
    std::tm local{};
    uint32_t dos = 0;
    if (!localtime_r(&moment, &local) || local.tm_year + 1900 > 2099 || !DosDateTimeFromLocal(local, dos))
        return 0;
    return dos;
}

uint32_t NowAsDosDateTime() { return DateTimeToDosDateTime(std::time(nullptr)); }

}  // namespace platform
