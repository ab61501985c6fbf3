#pragma once
// Applies the settings record to the operating system: interface addresses and default
// route (ip), NTP client and SNMP agent (scripts), uptime and clock snapshots, factory
// reset and reboot. Every shell command of the daemon runs through ShellRunner (common/),
// for which execCommand() is this class's name; absolute paths inside a command are built
// with shellPath(). Database and SystemInfo call ShellRunner themselves, so neither needs
// this class (it uses both). Process-wide singleton;
// the record pointer is set once by init() before other threads use it, so the methods
// may be called from any thread. Nothing throws out of init/saveUptime/saveDateTime.

#include <atomic>
#include <string>
#include <thread>

class SystemInfo;

class SystemManager {
public:
    static SystemManager* getInstance();

    SystemManager() = default;
    SystemManager(const SystemManager&) = delete;
    SystemManager& operator=(const SystemManager&) = delete;

    // Takes "/systeminfo" from Database and sets up the interfaces, route, NTP and SNMP
    // agent. Failures are printed.
    void init();
    void initMgntNetwork(SystemInfo* info);
    void initOltNetwork(SystemInfo* info);
    void initNTPClient(SystemInfo* info);
    void initSNMPAgent(SystemInfo* info);

    // ShellRunner::run without a byte limit: runs the command through /bin/sh and waits.
    // With output, the command's standard output is appended to *output. Returns the
    // shell's wait status (-1 when the shell could not be run); the daemon's callers do not
    // look at it.
    int execCommand(const std::string& cmd, std::string* output = nullptr);
    // ShellRunner::shellPath: Paths::resolve(absolutePath), single-quoted for the shell only
    // when it holds a character outside [A-Za-z0-9/._+-].
    static std::string shellPath(const std::string& absolutePath);

    // "rm -r /mnt/db/json".
    void doResetFactory();
    // "/sbin/reboot", then 2 s for the system to take the process down.
    void doReboot();
    // The interface record plus "change-olt-network"; throws
    // "Impossible to get all interface container".
    std::string getJsonAllNetworkInterfaces();
    void saveUptime();
    void saveDateTime();
    // The trimmed text between the first "up " and the first ","; "" when either is missing.
    static std::string parseUptime(const std::string& text);
    // Checks a restore archive before anything is deleted: it must be a ustar/GNU tar
    // archive (valid header checksums, sizes inside the data, end marker) whose members are
    // only regular files named ./onutable.json, ./olttable.json, ./systeminfo.json or
    // ./privatestore.json, plus the "./" folder entry that our own backup writes, and at
    // least one such file (the restore extracts the members under ".", so a bare name would
    // not be restored), and whose settings record sets none of the action flags (reboot,
    // resetFactory, restoreBackup, backup: actions, not settings; no backup of ours holds
    // them). Returns "" when acceptable, else why not.
    // Pure: parses (data, length) only.
    static std::string checkRestoreArchive(const char* data, size_t length);
    // Blinks the status LED from its own thread (no part of the start-up calls it).
    void initLedWorkingStatus();

    // Uses info instead of the Database lookup of init(), for tests of single steps.
    void setSystemInfoForTest(SystemInfo* info) { info_.store(info); }
    SystemInfo* getSystemInfo() const { return info_.load(); }

private:
    void threadLedWorker();

    std::atomic<SystemInfo*> info_{nullptr};
    std::thread ledThread_;
};
