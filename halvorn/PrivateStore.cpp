#include "PrivateStore.h"

#include "Helper.h"

PrivateStore::PrivateStore() {
    setNewValue("wAdmUser", kDefaultUser);
    setNewValue("wAdmPass", Helper::getPasswordHash(kDefaultPassword));
}
