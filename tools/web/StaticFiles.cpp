#include "StaticFiles.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "Helper.h"

namespace fs = std::filesystem;

namespace {
std::string contentTypeOf(const std::string& name) {
    static const std::map<std::string, std::string> types = {{".html", "text/html; charset=utf-8"},
                                                             {".js", "text/javascript; charset=utf-8"},
                                                             {".mjs", "text/javascript; charset=utf-8"},
                                                             {".css", "text/css; charset=utf-8"},
                                                             {".svg", "image/svg+xml"},
                                                             {".png", "image/png"},
                                                             {".ico", "image/x-icon"},
                                                             {".json", "application/json"},
                                                             {".webmanifest", "application/manifest+json"}};
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        auto it = types.find(name.substr(dot));
        if (it != types.end()) return it->second;
    }
    return "text/plain; charset=utf-8";
}
}  // namespace

void StaticFiles::load(const std::string& folder) {
    std::error_code ec;
    const fs::path root = fs::canonical(folder, ec);
    if (ec || !fs::is_directory(root)) throw std::runtime_error("static folder not found: " + folder);
    std::map<std::string, File> files;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::none, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string leaf = it->path().filename().string();
        if (!leaf.empty() && leaf[0] == '.') {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        if (it->is_symlink() || !it->is_regular_file()) continue;
        std::ifstream in(it->path(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        File f;
        f.body = s.str();
        f.contentType = contentTypeOf(leaf);
        f.etag = "\"" + Helper::getStringHash(f.body) + "\"";
        files[fs::relative(it->path(), root).generic_string()] = std::move(f);
    }
    if (ec) throw std::runtime_error("cannot read static folder " + folder + ": " + ec.message());
    files_ = std::move(files);
}

const StaticFiles::File* StaticFiles::find(const std::string& relative) const {
    auto it = files_.find(relative);
    return it == files_.end() ? nullptr : &it->second;
}

size_t StaticFiles::bytes() const {
    size_t n = 0;
    for (auto& [name, f] : files_) n += f.body.size();
    return n;
}
