// Replays the fuzz corpus (fuzz/tk/corpus) through the fuzz target's own entry function, so
// every build, gcc and sanitizer builds included, re-checks what the fuzzer once found.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../../../fuzz/tk/TkRxFuzzOne.h"

namespace {

TEST(ResponseCorpus, EveryCorpusDatagramDecodesOrFailsCleanly) {
    const std::filesystem::path corpus = TK_FUZZ_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    size_t replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        tkRxFuzzOne(bytes.data(), std::min<size_t>(bytes.size(), 1518));
        ++replayed;
    }
    EXPECT_GT(replayed, 20u);
}

}  // namespace
