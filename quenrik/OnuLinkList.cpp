#include "OnuLinkList.h"

#include <cjson/cJSON.h>

#include "JsonHelper.h"
#include "OnuLink.h"

OnuLinkList::OnuLinkList() = default;

OnuLinkList::~OnuLinkList() = default;

bool OnuLinkList::addOnuLink(const std::string& mac) {
    if (getOnuLinkFromMAC(mac) != nullptr) return false;
    links_.push_back(std::make_unique<OnuLink>(mac));
    return true;
}

OnuLink* OnuLinkList::getOnuLinkFromMAC(const std::string& mac) const {
    for (const auto& link : links_)
        if (link->getMacAddress() == mac) return link.get();
    return nullptr;
}

OnuLink* OnuLinkList::getOnuLinkFromIndex(std::size_t index) const {
    return index < links_.size() ? links_[index].get() : nullptr;
}

bool OnuLinkList::removeOnuFromMacAddress(const std::string& mac) {
    for (std::size_t i = 0; i < links_.size(); ++i) {
        if (links_[i]->getMacAddress() == mac) return removeOnuFromIndex(i);
    }
    return false;
}

bool OnuLinkList::removeOnuFromIndex(std::size_t index) {
    if (index >= links_.size()) return false;
    links_.erase(links_.begin() + static_cast<std::ptrdiff_t>(index));
    shrink();
    return true;
}

void OnuLinkList::clear() {
    links_.clear();
    shrink();
}

void OnuLinkList::shrink() { links_.shrink_to_fit(); }

std::string OnuLinkList::getJsonData() const {
    try {
        JsonPtr root(JsonHelper::createObject());
        cJSON* array = JsonHelper::createArray();
        cJSON_AddItemToObject(root.get(), "onulist", array);
        for (const auto& link : links_) cJSON_AddItemToArray(array, JsonHelper::parseJObject(link->getJsonData()));
        return JsonHelper::toString(root.get(), true);
    } catch (...) {
        return "{}";
    }
}
