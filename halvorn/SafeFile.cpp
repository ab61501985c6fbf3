#include "SafeFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Exception.h"

namespace SafeFile {

namespace {

// Makes a rename inside the folder durable: the new directory entry reaches the disk too.
void syncDirectory(const std::string& dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

std::string temporaryPath(const std::string& path) { return path + "~"; }

bool writeAndSync(const std::string& path, const std::string& text, bool& opened) {
    FILE* file = std::fopen(path.c_str(), "w+e");
    opened = file != nullptr;
    if (file == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    int err = ok ? 0 : errno;
    if (std::fflush(file) != 0 && ok) ok = false, err = errno;
    if (::fsync(::fileno(file)) != 0 && ok) ok = false, err = errno;
    if (std::fclose(file) != 0 && ok) ok = false, err = errno;
    errno = err;
    return ok;
}

void commit(const std::string& temporary, const std::string& path) {
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw Exception("Impossible to rename " + temporary + ": " + std::strerror(errno), __func__, __LINE__);
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) syncDirectory(slash == 0 ? "/" : path.substr(0, slash));
}

void replace(const std::string& path, const std::string& text) {
    const std::string temporary = temporaryPath(path);
    bool opened = false;
    if (!writeAndSync(temporary, text, opened)) {
        const int err = errno;
        if (opened) std::remove(temporary.c_str());
        throw Exception("Impossible to write " + temporary + ": " + std::strerror(err), __func__, __LINE__);
    }
    try {
        commit(temporary, path);
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
}

}  // namespace SafeFile
