#pragma once
// The names the programs use to talk to each other: Halvorn's tables and records (what
// Wendix, the web server and ponmc-cli read and write), the tasks Halvorn queues for
// Quenrik, the notifications Quenrik sends back, and the files the tables are saved in.
// Each name is spelled here once; a program that sends a name and the one that routes it
// use the same constant, so the two cannot drift apart. Plain constants, no state.

namespace Uris {

// Tables of rows, "/<table>" for all rows, "/<table>/<id>" for one.
inline constexpr const char* kOnuTable = "/onutable";
inline constexpr const char* kOltTable = "/olttable";
inline constexpr const char* kSlotTable = "/slottable";
inline constexpr const char* kModuleOltTable = "/moduleolttable";
inline constexpr const char* kModuleOnuTable = "/moduleonutable";
inline constexpr const char* kOltAlarmTable = "/oltalarmtable";

// Single settings records, and the card's interface list (built on request, never stored).
inline constexpr const char* kSystemInfo = "/systeminfo";
inline constexpr const char* kPrivateStore = "/privatestore";
inline constexpr const char* kNetworkInterfaces = "/network-interfaces";

// Tasks for a slot, from an API client through Halvorn to Quenrik ("slot_id" in the data).
inline constexpr const char* kSlotEnable = "/slot/enable";
inline constexpr const char* kSlotDisable = "/slot/disable";
inline constexpr const char* kSlotReset = "/slot/reset";
inline constexpr const char* kSlotRestoreDefault = "/slot/restore-default";
// Every ONU task starts with this prefix and needs "mac_address" as well.
inline constexpr const char* kSlotOnuPrefix = "/slot/onu/";
inline constexpr const char* kSlotOnuRemove = "/slot/onu/remove";
inline constexpr const char* kSlotOnuReset = "/slot/onu/reset";
inline constexpr const char* kSlotOnuEnable = "/slot/onu/enable";
inline constexpr const char* kSlotOnuDisable = "/slot/onu/disable";
inline constexpr const char* kSlotOnuSetVlanId = "/slot/onu/set/vlanid";
// Tasks Halvorn builds on its own from the OLT table and the settings.
inline constexpr const char* kOltConfig = "/olt/config";
inline constexpr const char* kOltVlan = "/olt/vlan";

// Notifications from Quenrik to Halvorn.
inline constexpr const char* kOltNewReport = "/olt/new/report";
inline constexpr const char* kOltSetAllOffline = "/olt/set/all/offline";
inline constexpr const char* kOltAlarmNew = "/olt/alarm/new";
inline constexpr const char* kOltGetConfig = "/olt/get/config";
inline constexpr const char* kOnuNew = "/onu/new";
inline constexpr const char* kOnuSetAllOffline = "/onu/set/all/offline";

// The folder of the saved tables and records: "<folder><uri>.json".
inline constexpr const char* kDbFolder = "/mnt/db/json";
// Their names inside a backup archive (the members a restore accepts).
inline constexpr const char* kOnuTableMember = "./onutable.json";
inline constexpr const char* kOltTableMember = "./olttable.json";
inline constexpr const char* kSystemInfoMember = "./systeminfo.json";
inline constexpr const char* kPrivateStoreMember = "./privatestore.json";

}  // namespace Uris
