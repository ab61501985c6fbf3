#include "Helper.h"

#include <openssl/evp.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <vector>

std::atomic<int> GL_TIMEZONE_VALUE{0};

namespace {

const char* const kDateTimeFormat = "%d/%m/%Y %H:%M:%S";
const char* const kCompactDateTimeFormat = "%d%m%Y%H%M%S";

// Frames of the password hash: <open><password><separator><password><close>, once with
// each set. Stored administrator hashes depend on these exact characters: never change them.
const char kPasswordOpen1 = '<';
const char* const kPasswordSeparator1 = "|#|";
const char kPasswordClose1 = '>';
const char kPasswordOpen2 = '(';
const char* const kPasswordSeparator2 = "*~*";
const char kPasswordClose2 = ')';

// Frame of each random-token digest input: "rnd:" + the decimal draw + ";". Fixed as well,
// so a given seed always yields the same token.
std::string tokenInput(int draw) { return "rnd:" + std::to_string(draw) + ";"; }

// srand/rand are one process-wide generator; seeding and drawing a whole token under one
// mutex keeps concurrent callers from interleaving their sequences.
std::mutex gRandomMutex;

std::string hex(const unsigned char* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

bool sameDate(const struct tm& a, const struct tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
           a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

}  // namespace

void Helper::uriParse(const std::string& uri, std::string& basePath, uint64_t& index) {
    index = 0;
    const size_t slash = uri.rfind('/');
    if (slash == std::string::npos) {
        basePath = uri;
        return;
    }
    // The tail is a row index: white space (the same set the C conversions skip), then
    // decimal digits up to the first other character. No sign is taken ("-1" would
    // otherwise wrap to a huge index), nor a number past 64 bits.
    size_t pos = slash + 1;
    while (pos < uri.size() && isspace(static_cast<unsigned char>(uri[pos]))) ++pos;
    uint64_t number = 0;
    bool digits = false;
    for (; pos < uri.size() && isdigit(static_cast<unsigned char>(uri[pos])); ++pos) {
        const uint64_t digit = static_cast<uint64_t>(uri[pos] - '0');
        if (number > (UINT64_MAX - digit) / 10) {
            digits = false;
            break;
        }
        number = number * 10 + digit;
        digits = true;
    }
    if (!digits) {
        basePath = uri;
        return;
    }
    basePath = uri.substr(0, slash);
    index = number;
}

std::string Helper::httpRequestToAction(const std::string& method) {
    return strcasecmp(method.c_str(), "POST") == 0 && method.size() == 4 ? "set" : "get";
}

std::string Helper::replaceAll(std::string text, const std::string& search, const std::string& replacement) {
    if (search.empty()) return text;
    size_t pos = 0;
    while ((pos = text.find(search, pos)) != std::string::npos) {
        text.replace(pos, search.size(), replacement);
        pos += replacement.size();
    }
    return text;
}

std::string Helper::addHourToDateTime(const std::string& dateTime, int hours) {
    const char* format = dateTime.find('/') != std::string::npos ? kDateTimeFormat : kCompactDateTimeFormat;
    struct tm parsed {};
    const char* end = strptime(dateTime.c_str(), format, &parsed);
    // Not a whole date-time in either form (e.g. "" or "-" of a row never filled): shown as is.
    if (end == nullptr || *end != '\0') return dateTime;
    struct tm normalised = parsed;
    const time_t utc = timegm(&normalised);
    // timegm silently rolls impossible dates (31/02) forward; such a text is shown as is.
    if (!sameDate(parsed, normalised)) return dateTime;
    // The whole date moves with the hours: 23:30 + 3 h is 02:30 of the next day.
    const time_t shifted = utc + static_cast<time_t>(hours) * 3600;
    struct tm out {};
    if (gmtime_r(&shifted, &out) == nullptr) return dateTime;
    char buffer[80];
    if (strftime(buffer, sizeof buffer, format, &out) == 0) return dateTime;
    return buffer;
}

std::string Helper::formatDateTime(time_t utc, bool compact) {
    struct tm broken {};
    if (gmtime_r(&utc, &broken) == nullptr) return "";
    char buffer[80];
    if (strftime(buffer, sizeof buffer, compact ? kCompactDateTimeFormat : kDateTimeFormat, &broken) == 0) return "";
    return buffer;
}

std::string Helper::getCurrentDateTime(bool compact) { return formatDateTime(time(nullptr), compact); }

std::string Helper::getAllContentFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return "";
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

int Helper::getValidNumber(const std::string& text) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE || number < INT_MIN || number > INT_MAX) return -1;
    return static_cast<int>(number);
}

void Helper::trim(std::string& text) {
    static const char* const kBlanks = " \t\n\v\f\r";
    const size_t last = text.find_last_not_of(kBlanks);
    if (last == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(last + 1);
    text.erase(0, text.find_first_not_of(kBlanks));
}

std::string Helper::getStringHash(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1) return "";
    return hex(digest, length);
}

std::string Helper::getPasswordHash(const std::string& password) {
    const std::string first = kPasswordOpen1 + password + kPasswordSeparator1 + password + kPasswordClose1;
    const std::string second = kPasswordOpen2 + password + kPasswordSeparator2 + password + kPasswordClose2;
    return getStringHash(first) + getStringHash(second);
}

std::string Helper::getRandomToken(uint64_t length) {
    return getRandomToken(length, static_cast<unsigned int>(time(nullptr)));
}

std::string Helper::getRandomToken(uint64_t length, unsigned int seed) {
    std::string token;
    std::lock_guard<std::mutex> guard(gRandomMutex);
    srand(seed);
    while (token.size() < length) {
        const std::string digest = getStringHash(tokenInput(rand()));
        // Without a digest the token could never grow; a short token beats a hung caller.
        if (digest.empty()) break;
        token += digest;
    }
    if (token.size() > length) token.resize(static_cast<size_t>(length));
    return token;
}

std::string Helper::toStringNumber(double number) {
    const int needed = snprintf(nullptr, 0, "%.02f", number);
    if (needed <= 0) return "";
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    snprintf(buffer.data(), buffer.size(), "%.02f", number);
    std::string text(buffer.data());
    if (text.size() > 9) text.resize(9);
    return text;
}

std::string Helper::toStringHex(uint32_t value, uint8_t width) {
    char buffer[300];
    if (width == 0) snprintf(buffer, sizeof buffer, "%X", value);
    else snprintf(buffer, sizeof buffer, "%0*X", static_cast<int>(width), value);
    return buffer;
}
