#pragma once
// The administrator's credentials ("/privatestore"): "wAdmUser" and "wAdmPass" (the
// password hash). A plain Container: thread-safety and errors are the Container's.

#include "Container.h"

class PrivateStore : public Container {
public:
    static constexpr const char* kDefaultUser = "mzpw";
    static constexpr const char* kDefaultPassword = "mzpw";

    PrivateStore();
    ~PrivateStore() override = default;
};
