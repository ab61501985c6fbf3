#include "Options.h"

#include <cstdlib>

namespace {
bool number(const std::string& text, long lo, long hi, long& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    out = std::strtol(text.c_str(), nullptr, 10);
    return out >= lo && out <= hi;
}
}  // namespace

const char* Options::usage() {
    return "usage: ponmc-web [options]\n"
           "  --listen ADDR          IPv4 address to listen on (default 127.0.0.1; 0.0.0.0 for every interface)\n"
           "  --port N               TCP port (default: the \"webPort\" setting read from Halvorn at start,\n"
           "                         80 when Halvorn does not answer within a few seconds; 0: any free port)\n"
           "  --static DIR           folder of the pages (default: tools/web/www of the source tree)\n"
           "  --idle-minutes N       sign a session out after N idle minutes (default 30)\n"
           "  --sample-seconds N     period of the optical history samples (default 30)\n"
           "  --upload-limit-kib N   largest restore archive accepted (default 4096)\n"
           "  --help\n"
           "Runs under $PONMC_ROOT like every program of the card (its /tmp/web.ipc, /tmp/*Config.bin).\n";
}

Options Options::parse(const std::vector<std::string>& args) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        }
        if (i + 1 >= args.size()) {
            o.error = "unknown option or missing value: " + a;
            return o;
        }
        const std::string& v = args[++i];
        long n = 0;
        if (a == "--listen") {
            o.listen = v;
        } else if (a == "--static") {
            o.staticDir = v;
        } else if (a == "--port" && number(v, 0, 65535, n)) {
            o.port = static_cast<int>(n);
        } else if (a == "--idle-minutes" && number(v, 1, 24 * 60, n)) {
            o.idleMinutes = static_cast<int>(n);
        } else if (a == "--sample-seconds" && number(v, 1, 3600, n)) {
            o.sampleSeconds = static_cast<int>(n);
        } else if (a == "--upload-limit-kib" && number(v, 1, 1024 * 1024, n)) {
            o.uploadLimitKiB = static_cast<size_t>(n);
        } else {
            o.error = "bad option: " + a + " " + v;
            return o;
        }
    }
    return o;
}
