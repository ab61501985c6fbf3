#pragma once
// The pages and their files, read once at start from the static folder into memory and
// served from there by name: a request names an entry of this table or nothing, so no
// path from a request ever reaches the file system (no traversal, no symbolic links, no
// hidden files). Each entry has its content type and a strong ETag. Immutable after load,
// so readers need no lock. load() throws std::runtime_error when the folder is unreadable.

#include <map>
#include <string>

class StaticFiles {
public:
    struct File {
        std::string body;
        std::string contentType;
        std::string etag;
    };

    // Reads every regular file under folder (recursively, skipping names that begin with
    // a dot and symbolic links); the key is the relative path with "/" separators.
    void load(const std::string& folder);
    // The file of a relative path ("app.js", "lib/htm.module.js"); null when there is none.
    const File* find(const std::string& relative) const;
    size_t count() const { return files_.size(); }
    size_t bytes() const;

private:
    std::map<std::string, File> files_;
};
