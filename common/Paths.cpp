#include "Paths.h"

#include <cstdlib>

namespace Paths {

std::string root() {
    const char* r = std::getenv("PONMC_ROOT");
    if (r == nullptr) return "";
    std::string s(r);
    // A trailing slash would double the separator: "/tmp/x/" + "/mnt" -> "/tmp/x//mnt".
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    if (s == "/") return "";
    return s;
}

std::string resolve(const std::string& absolutePath) {
    if (absolutePath.empty() || absolutePath[0] != '/') return absolutePath;
    return root() + absolutePath;
}

}  // namespace Paths
