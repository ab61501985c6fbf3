#include "Periods.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

Periods::ms scale(Periods::ms period, double factor) {
    const auto value = static_cast<Periods::ms::rep>(static_cast<double>(period.count()) * factor);
    return Periods::ms(value < 1 ? 1 : value);
}

}  // namespace

Periods Periods::scaled(double factor) {
    Periods p;
    for (ms* period : {&p.pass, &p.configWait, &p.pingCycle, &p.pingStagger, &p.response, &p.tolerantPause,
                       &p.socketReopen, &p.notifierRetry})
        *period = scale(*period, factor);
    return p;
}

double Periods::parseScale(const char* text) {
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    const double factor = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(factor > 0.0) || factor > 1.0) return 0;
    return factor;
}

Periods Periods::fromEnvironment() {
    const char* text = std::getenv(kScaleVariable);
    if (text == nullptr || *text == '\0') return Periods();
    const double factor = parseScale(text);
    if (factor == 0) {
        std::printf("%s[%d]: Exception: Invalid %s(%s), the real periods are kept\n", __func__, __LINE__,
                    kScaleVariable, text);
        return Periods();
    }
    return scaled(factor);
}
