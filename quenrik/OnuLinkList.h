#pragma once
// The ONU logical links one slot currently tracks, in insertion order, at most one per MAC
// text (compared exactly as stored: the colon-separated lower-case form the OLT replies are
// decoded into). Owns its links: removing a link or clearing the list destroys it, so a
// pointer from getOnuLinkFrom* is valid only until the next removal or clear.
// Not thread-safe: used only under its slot's lock. Throws only std::bad_alloc.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class OnuLink;

class OnuLinkList {
public:
    OnuLinkList();
    virtual ~OnuLinkList();
    OnuLinkList(const OnuLinkList&) = delete;
    OnuLinkList& operator=(const OnuLinkList&) = delete;

    // Appends a new link with that MAC; false (and nothing changes) when one is present.
    bool addOnuLink(const std::string& mac);
    // The first link with that MAC, or nullptr.
    OnuLink* getOnuLinkFromMAC(const std::string& mac) const;
    // The link at index, or nullptr when index is not below size().
    OnuLink* getOnuLinkFromIndex(std::size_t index) const;
    std::size_t size() const { return links_.size(); }
    // Removes and destroys; later links move down one index. False when there is none.
    bool removeOnuFromMacAddress(const std::string& mac);
    bool removeOnuFromIndex(std::size_t index);
    void clear();
    // {"onulist":[<each link's object>...]}, "{}" when it cannot be built. Diagnostics only.
    std::string getJsonData() const;

private:
    // Storage is given back after each removal: a slot that once held 128 links and now
    // holds few must not keep the larger array.
    void shrink();

    std::vector<std::unique_ptr<OnuLink>> links_;
};
