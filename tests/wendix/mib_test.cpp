// The MIB module an operator loads into a manager: it passes smilint, and every object
// translates by name to the OID the agent serves it under. The base modules (SNMPv2-SMI,
// -TC, -CONF) are not in Debian's packages; they come from the npm package net-snmp, fetched
// at test time into the build folder.

#include <gtest/gtest.h>

#include <regex>

#include "WendixHarness.h"

using namespace wendix_test;

namespace {

const std::string kModule = "QV-PON-MIB";

// Every object of the module with its OID below the enterprise node, from the MIB tables'
// description: the tables, their entries and their columns.
std::vector<std::pair<std::string, std::string>> expectedObjects() {
    struct Table {
        const char* table;
        const char* entry;
        const char* oid;
        std::vector<std::pair<unsigned, const char*>> columns;
    };
    const Table tables[] = {
        {"qvSlotTable",
         "qvSlotEntry",
         ".3.1.9.1",
         {{1, "qvSlotIndex"}, {2, "qvSlotStatus"}, {3, "qvSlotCardType"}, {4, "qvSlotCardSN"}, {5, "qvSlotSet"}}},
        {"qvCfgOLTTable",
         "qvCfgOLTEntry",
         ".3.2.6.3.1",
         {{1, "qvCfgOLTSlotIndex"},
          {19, "qvCfgOLTApp1Version"},
          {21, "qVCfgOLTNvsEnabled"},
          {22, "qvCfgOLTMac"},
          {24, "qvCfgOLTName"},
          {36, "qvCfgOLTCtcDisable"},
          {38, "qvCfgOLTMtu"}}},
        {"qvCfgONUTable",
         "qvCfgONUEntry",
         ".3.2.6.3.2",
         {{1, "qvCfgONUSlotIndex"},
          {2, "qvCfgONUPonIndex"},
          {3, "qvCfgONUIndex"},
          {11, "qvCfgONUPhysicalID"},
          {37, "qvCfgONUName"},
          {39, "qvCfgONULinkStatus"}}},
        {"qvOpticModuleOltTable",
         "qvOpticModuleOltEntry",
         ".3.2.6.14.1",
         {{1, "qvOpticModuleOltSlotIndex"},
          {2, "qvOpticModuleOltPonIndex"},
          {3, "qvOpticModuleOltTxPower"},
          {4, "qvOpticModuleOltVcc"},
          {5, "qvOpticModuleOltTxBias"},
          {6, "qvOpticModuleOltTemperature"}}},
        {"qvOpticModuleOnuTable",
         "qvOpticModuleOnuEntry",
         ".3.2.6.14.2",
         {{1, "qvOpticModuleOnuSlotIndex"},
          {2, "qvOpticModuleOnuPonIndex"},
          {3, "qvOpticModuleOnuIndex"},
          {4, "qvOpticModuleOnuTxPower"},
          {5, "qvOpticModuleOnuVcc"},
          {6, "qvOpticModuleOnuTxBias"},
          {7, "qvOpticModuleOnuTemperature"},
          {8, "qvOpticModuleOnuRxPower"}}},
    };
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& t : tables) {
        const std::string base = enterprise() + t.oid;
        out.emplace_back(t.table, base);
        out.emplace_back(t.entry, base + ".1");
        for (const auto& c : t.columns) out.emplace_back(c.second, base + ".1." + std::to_string(c.first));
    }
    return out;
}

class MibModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string dir = std::string(WENDIX_TEST_WORK_DIR) + "/mib-base";
        const std::string lib = dir + "/package/lib/mibs";
        if (std::filesystem::exists(lib + "/SNMPv2-CONF.mib")) {
            baseDir_ = lib;
            return;
        }
        std::filesystem::create_directories(dir);
        const std::vector<std::string> npmEnv = {"npm_config_cache=" + dir + "/npm-cache",
                                                 "npm_config_update_notifier=false"};
        ToolResult pack = runTool({"npm", "pack", "net-snmp@3", "--pack-destination", dir}, dir, npmEnv, 180s);
        if (pack.status != 0) {
            ToolResult ping = runTool({"npm", "ping"}, dir, npmEnv, 60s);
            if (ping.status != 0) {
                skipReason_ =
                    "the npm registry cannot be reached, so the base MIB modules cannot be fetched: " + ping.err +
                    ping.out;
                return;
            }
            failure_ = "npm pack net-snmp failed: " + pack.err + pack.out;
            return;
        }
        std::string tarball;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().extension() == ".tgz") tarball = e.path().string();
        ToolResult untar = runTool({"tar", "-xzf", tarball, "-C", dir, "package/lib/mibs/SNMPv2-SMI.mib",
                                    "package/lib/mibs/SNMPv2-TC.mib", "package/lib/mibs/SNMPv2-CONF.mib"},
                                   dir);
        if (untar.status != 0) {
            failure_ = "cannot unpack " + tarball + ": " + untar.err;
            return;
        }
        baseDir_ = lib;
    }

    void SetUp() override {
        if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
        ASSERT_EQ(failure_, "");
    }

    static std::string mibDir() { return std::filesystem::path(WENDIX_MIB_FILE).parent_path().string(); }

    static std::string baseDir_;
    static std::string skipReason_;
    static std::string failure_;
};

std::string MibModule::baseDir_;
std::string MibModule::skipReason_;
std::string MibModule::failure_;

TEST_F(MibModule, PassesSmilintWithoutAnyRemark) {
    // smilint exits 0 even on errors: any output is a failure.
    ToolResult r =
        runTool({"smilint", "-l", "3", "-s", WENDIX_MIB_FILE}, WENDIX_TEST_WORK_DIR, {"SMIPATH=" + baseDir_});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
}

TEST_F(MibModule, EveryObjectTranslatesByNameToTheOidTheAgentServes) {
    const auto objects = expectedObjects();
    std::vector<std::string> args = {"snmptranslate", "-M", baseDir_ + ":" + mibDir(), "-m", kModule, "-On"};
    for (const auto& o : objects) args.push_back(kModule + "::" + o.first);
    ToolResult r = runTool(args, WENDIX_TEST_WORK_DIR, {"SNMP_PERSISTENT_DIR=" + std::string(WENDIX_TEST_WORK_DIR)});
    ASSERT_EQ(r.status, 0) << r.err;
    // Any remark of the MIB parser is a failure; net-snmp's note that it made its persistent
    // folder is none.
    EXPECT_EQ(std::regex_replace(r.err, std::regex("Created directory: [^\n]*\n"), ""), "");
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    ASSERT_EQ(lines.size(), objects.size()) << r.out;
    for (size_t i = 0; i < objects.size(); ++i) EXPECT_EQ(lines[i], objects[i].second) << objects[i].first;

    // And the module defines no object besides these.
    const std::string text = readWholeFile(WENDIX_MIB_FILE);
    std::set<std::string> defined, expected;
    const std::regex objectType(R"((\w+)\s+OBJECT-TYPE)");
    for (std::sregex_iterator it(text.begin(), text.end(), objectType), end; it != end; ++it) defined.insert((*it)[1]);
    for (const auto& o : objects) expected.insert(o.first);
    EXPECT_EQ(defined, expected);
}

}  // namespace
