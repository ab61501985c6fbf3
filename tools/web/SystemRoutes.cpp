// The settings, backup, restore, factory-reset and reboot routes of WebApp.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "JsonHelper.h"
#include "Paths.h"
#include "Uris.h"
#include "Validation.h"
#include "WebApp.h"
#include "WebJson.h"

namespace {

// A restore archive is what the card's backup makes: an uncompressed tar of the table
// folder's JSON files. Halvorn unpacks it with tar into the table folder; anything else
// (links, devices, names with folders, long-name records) is refused before it gets there.
std::string checkArchive(const std::string& a) {
    if (a.size() < 1024 || a.size() % 512 != 0) return "Not a backup of this card (not a tar archive)";
    size_t pos = 0;
    int files = 0;
    while (pos + 512 <= a.size()) {
        const char* h = a.data() + pos;
        bool zero = true;
        for (int i = 0; i < 512 && zero; ++i) zero = h[i] == 0;
        if (zero) return files > 0 ? "" : "The archive holds no table file";
        if (std::string(h + 257, 5) != "ustar") return "Not a backup of this card (not a tar archive)";
        const std::string name(h, strnlen(h, 100));
        const std::string prefix(h + 345, strnlen(h + 345, 155));
        const char type = h[156];
        unsigned long size = 0;
        for (int i = 124; i < 136 && h[i] >= '0' && h[i] <= '7'; ++i)
            size = size * 8 + static_cast<unsigned long>(h[i] - '0');
        std::string leaf = name.rfind("./", 0) == 0 ? name.substr(2) : name;
        if (!prefix.empty()) return "Unexpected entry in the archive: " + prefix + "/" + name;
        if (type == '5') {
            if (leaf != "" && leaf != "." && leaf != "./") return "Unexpected folder in the archive: " + name;
        } else if (type == '0' || type == '\0') {
            bool ok = leaf.size() > 5 && leaf.size() <= 64 && leaf.compare(leaf.size() - 5, 5, ".json") == 0;
            for (char c : leaf)
                ok = ok && (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-');
            if (!ok || leaf[0] == '.') return "Unexpected file in the archive: " + name;
            files++;
        } else {
            return "Unexpected entry in the archive: " + name;
        }
        pos += 512 + (size + 511) / 512 * 512;
    }
    return "The archive is cut short";
}

}  // namespace

// GET of either, PUT of the system settings: the route table lets no other through.
HttpResponse WebApp::settings(const HttpRequest& request) {
    const bool interfaces = request.path == "/api/network-interfaces";
    if (request.method == "GET")
        return fromHalvorn(link_.get(interfaces ? Uris::kNetworkInterfaces : Uris::kSystemInfo));
    JsonPtr change(cJSON_Parse(request.body.c_str()));
    if (!change) return errorResponse(400, "The body must be a JSON object");
    const validation::Result check = validation::checkSettingsChange(change.get());
    if (!check.errors.empty()) return fieldErrorsResponse(check);
    const ApiClient::Response r = setInHalvorn(Uris::kSystemInfo, check.data);
    if (!r.err.empty()) return fromHalvorn(r);
    return fromHalvorn(link_.get(Uris::kSystemInfo));
}

HttpResponse WebApp::systemFlag(const std::string& flag, const std::string& message) {
    const ApiClient::Response r = setInHalvorn(Uris::kSystemInfo, "{" + webjson::quote(flag) + ":\"1\"}");
    if (!r.err.empty()) return fromHalvorn(r);
    return jsonResponse(202, "{\"message\":" + webjson::quote(message) + "}");
}

// Asks Halvorn for the archive and waits until its database worker has written it (it
// sets "backup" back to "0" after tar has finished), then sends the file.
HttpResponse WebApp::backup() {
    std::unique_lock<std::mutex> one(backupMutex_, std::try_to_lock);
    if (!one.owns_lock()) return errorResponse(409, "A backup or restore is already under way");
    const std::string path = Paths::resolve("/tmp/backupConfig.bin");
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return errorResponse(500, "Cannot remove the old backup file: " + std::string(std::strerror(errno)));
    const ApiClient::Response r = setInHalvorn(Uris::kSystemInfo, "{\"backup\":\"1\"}");
    if (!r.err.empty()) return fromHalvorn(r);
    const auto deadline = std::chrono::steady_clock::now() + config_.backupWait;
    for (;;) {
        std::this_thread::sleep_for(config_.backupPoll);
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            const ApiClient::Response info = link_.get(Uris::kSystemInfo);
            JsonPtr json(cJSON_Parse(info.data.c_str()));
            if (info.err.empty() && webjson::stringMember(json.get(), "backup") == "0") break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return errorResponse(504, "The card did not write the backup in time");
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    char stamp[32];
    const time_t now = std::time(nullptr);
    struct tm tmv {};
    gmtime_r(&now, &tmv);
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &tmv);
    HttpResponse out;
    out.contentType = "application/x-tar";
    out.body = s.str();
    out.headers.emplace_back("Content-Disposition",
                             std::string("attachment; filename=\"ponmc-backup-") + stamp + ".tar\"");
    return out;
}

HttpResponse WebApp::restore(const HttpRequest& request) {
    std::unique_lock<std::mutex> one(backupMutex_, std::try_to_lock);
    if (!one.owns_lock()) return errorResponse(409, "A backup or restore is already under way");
    const std::string problem = checkArchive(request.body);
    if (!problem.empty()) return errorResponse(400, problem);
    // Written beside its place and renamed, so Halvorn never unpacks half a file.
    const std::string path = Paths::resolve("/tmp/restoreConfig.bin");
    const std::string part = path + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(request.body.data(), static_cast<std::streamsize>(request.body.size()));
        if (!out.flush()) return errorResponse(500, "Cannot write the restore file");
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) return errorResponse(500, "Cannot write the restore file");
    return systemFlag("restoreBackup", "Restoring: the card restarts with the restored configuration");
}
