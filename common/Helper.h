#pragma once
// Static utilities of every program: uri split, HTTP method to action, date-time texts,
// number/hex texts, file reading, trimming, MD5 digests (libcrypto), password hash and
// random token. Stateless and thread-safe (getRandomToken serialises its use of the
// process-wide rand() generator). Raise nothing of their own.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

// The configured time-zone offset in hours, written by the settings record and read
// wherever a stored UTC time is shown. 0 until set.
extern std::atomic<int> GL_TIMEZONE_VALUE;

class Helper {
public:
    // "/onutable/12" -> "/onutable", 12. No "/" or a tail without leading digits: the whole
    // uri and 0. A tail like "7x" gives 7.
    static void uriParse(const std::string& uri, std::string& basePath, uint64_t& index);
    // "set" for POST in any letter case, else "get".
    static std::string httpRequestToAction(const std::string& method);
    // Every occurrence replaced, left to right; inserted text is not scanned again. An
    // empty search text returns the text unchanged.
    static std::string replaceAll(std::string text, const std::string& search, const std::string& replacement);
    // Shifts a "%d/%m/%Y %H:%M:%S" or "%d%m%Y%H%M%S" text by hours, rolling day, month and
    // year over; same format back. A text in neither format comes back unchanged.
    static std::string addHourToDateTime(const std::string& dateTime, int hours);
    // Current UTC time, "%d%m%Y%H%M%S" when compact, else "%d/%m/%Y %H:%M:%S".
    static std::string getCurrentDateTime(bool compact);
    // The same texts for a given time (the clock seam of getCurrentDateTime).
    static std::string formatDateTime(time_t utc, bool compact);
    // Whole file; "" when it cannot be opened. The caller resolves the path (Paths::resolve).
    static std::string getAllContentFile(const std::string& path);
    // Leading decimal integer (blanks and sign allowed); -1 when none or out of int32 range.
    static int getValidNumber(const std::string& text);
    // Removes leading and trailing " \t\n\v\f\r" in place.
    static void trim(std::string& text);
    // MD5 of the bytes, 32 lower-case hex digits.
    static std::string getStringHash(const std::string& text);
    // Two MD5 digests of two framed copies of the password: 64 lower-case hex digits.
    static std::string getPasswordHash(const std::string& password);
    // length lower-case hex digits from rand() seeded with the current second.
    static std::string getRandomToken(uint64_t length);
    // The same with an explicit seed (tests, and the clock seam of the above).
    static std::string getRandomToken(uint64_t length, unsigned int seed);
    // "%.02f", cut to at most 9 characters.
    static std::string toStringNumber(double number);
    // Upper-case hex, zero-filled to at least width digits; width 0: shortest form.
    static std::string toStringHex(uint32_t value, uint8_t width);
};
