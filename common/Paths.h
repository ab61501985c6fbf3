#pragma once
// The platform seam for file-system paths.
//
// Every absolute path the system uses (port files, the database folder, settings
// files, scripts, /sbin/reboot, the GPIO value file) goes through resolve(), which
// prefixes it with the directory named by the environment variable PONMC_ROOT.
// Unset or empty, the path is returned exactly as given, so a real card uses the
// real paths; tests and the sandbox point PONMC_ROOT at a temporary folder.
// Thread-safe as long as nobody changes PONMC_ROOT while threads run.

#include <string>

namespace Paths {

// "/tmp/web.ipc" -> "$PONMC_ROOT/tmp/web.ipc". A relative path is returned unchanged.
std::string resolve(const std::string& absolutePath);

// The root prefix itself ("" when unset).
std::string root();

// Port files of the four channels.
inline constexpr const char* kWebIpc = "/tmp/web.ipc";
inline constexpr const char* kSnmpIpc = "/tmp/snmp.ipc";
inline constexpr const char* kHalQuenIpc = "/tmp/halquen.ipc";
inline constexpr const char* kQuenHalIpc = "/tmp/quenhal.ipc";

}  // namespace Paths
