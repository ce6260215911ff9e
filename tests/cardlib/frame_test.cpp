// The library's frame: the trace, and an application in C against the
// public header.
#include "card_fixture.h"

#include "cardlib/trace.h"

#include <string>

extern "C" int run_c_application(void);

namespace {

using FrameTest = CardTest;

TEST_F(FrameTest, TraceTextIsCutAtFiveHundredElevenCharacters) {
    const struct {
        std::size_t length;
        std::size_t traced;
    } cases[] = {{0, 0}, {510, 510}, {511, 511}, {512, 511}, {2000, 511}};
    for (const auto& c : cases) {
        machine->records().clear();
        ferrocard::trace("%s", std::string(c.length, 'x').c_str());
        auto lines = machine->records().debugOutput();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text.size(), c.traced) << c.length;
    }
}

TEST_F(FrameTest, AnApplicationInCAgainstThePublicHeader) {
    EXPECT_EQ(run_c_application(), 0);
}

} // namespace
