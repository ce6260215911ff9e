// --json: one JSON object on standard output, with the keys of the lines in
// their order, numbers as numbers, and a failed step as an "error" member.
#include "ddtool_fixture.h"
#include "json_reader.h"

namespace {

using Type = Json::Type;

class JsonTest : public DdtoolTest {
  protected:
    Json object(const std::vector<std::string>& args, int exitCode) {
        auto withJson = args;
        withJson.push_back("--json");
        const Run r = ddtool(withJson);
        EXPECT_EQ(r.exitCode, exitCode);
        Json j;
        EXPECT_TRUE(JsonReader::parse(r.out, j)) << r.out;
        EXPECT_EQ(j.type, Type::Object);
        // The lines of the same run have the same keys, those of JSON alone
        // aside; a failure's line is on standard error in both.
        const Run lines = ddtool(args);
        EXPECT_EQ(r.err, lines.err);
        std::vector<std::string> keys;
        for (const auto& k : j.keys())
            if (k != "command" && k != "warnings" && k != "error")
                keys.push_back(k);
        EXPECT_EQ(j.keys().front(), "command");
        if (exitCode == 0) {
            EXPECT_EQ(keys, lines.keys) << r.out;
        }
        return j;
    }
};

TEST_F(JsonTest, InfoIsOneObjectWithTheLinesKeys) {
    const Json j = object({"--sim", "csd=400E00325B5900003B377F800A4040AE", "info"}, 0);
    EXPECT_EQ(j.find("command")->string, "info");
    EXPECT_EQ(j.find("sysinit")->type, Type::Number);
    const Json* drive = j.find("drive");
    ASSERT_EQ(drive->type, Type::Object);
    EXPECT_EQ(drive->find("letter")->string, "E");
    EXPECT_EQ(drive->find("number")->number, 5u);
    const Json* status = j.find("cardStatus");
    EXPECT_EQ(status->find("value")->number, 5u);
    ASSERT_EQ(status->find("bits")->items.size(), 2u);
    EXPECT_EQ(status->find("bits")->items[1].string, "highCapacity");
    EXPECT_EQ(j.find("writeProtected")->type, Type::Bool);
    EXPECT_TRUE(j.find("highCapacity")->boolean);
    for (const char* key : {"noSectors", "erasesize", "cylinders", "noHeads", "bytesPerSector", "sectorsPerTrack",
                            "readBlLen", "Csize", "CsizeMult", "reserved1", "reserved2", "capacityClass"})
        EXPECT_EQ(j.find(key)->type, Type::Number) << key;
    EXPECT_EQ(j.find("noSectors")->number, 15523840u);
    EXPECT_EQ(j.find("capacityClass")->number, 98304u);
}

TEST_F(JsonTest, CsdFieldsAreNumbers) {
    const Json j = object({"csd", "400E00325B5900003B377F800A4040AF"}, 0);
    EXPECT_EQ(j.find("source")->string, "hex");
    EXPECT_EQ(j.find("TAAC")->number, 0x0Eu);
    EXPECT_EQ(j.find("CCC")->number, 0x5B5u);
    EXPECT_EQ(j.find("C_SIZE")->number, 15159u);
    EXPECT_EQ(j.find("CRC")->number, 0x57u);
    EXPECT_EQ(j.find("capacity")->number, 7948206080u);
    EXPECT_EQ(j.find("crcValid")->type, Type::Bool);
    EXPECT_TRUE(j.find("crcValid")->boolean); // the end bit is no part of the CRC
    // What the library cannot tell is null, not a guess.
    const Json card = object({"--sim", "csd=400E00325B5900003B377F800A4040AE,lastlba=1", "csd"}, 0);
    EXPECT_EQ(card.find("source")->string, "library");
    EXPECT_EQ(card.find("C_SIZE")->number, 15159u);
    const Json big = object({"--sim", "csd=400E00325B590001D93F7F800A4040AE,lastlba=1", "csd"}, 0);
    EXPECT_EQ(big.find("C_SIZE")->type, Type::Null);
    EXPECT_EQ(big.find("capacity")->type, Type::Null);
}

TEST_F(JsonTest, AFailedStepIsTheErrorMember) {
    Json j = object({"--sim", "letter=B", "info"}, 1);
    EXPECT_EQ(j.keys(), (std::vector<std::string>{"command", "sysinit", "error"}));
    const Json* e = j.find("error");
    EXPECT_EQ(e->find("message")->string, "drive: 0x1002 (no card drive: no reader with a card in it)");
    EXPECT_EQ(e->find("step")->string, "drive");
    EXPECT_EQ(e->find("status")->string, "0x1002");
    EXPECT_EQ(e->find("meaning")->string, "no card drive: no reader with a card in it");
    j = object({"--sim", "fail=A0000034", "mid"}, 1);
    EXPECT_EQ(j.keys(), (std::vector<std::string>{"command", "error"}));
    EXPECT_EQ(j.find("error")->find("status")->string, "0x12FF");
}

// What a version 2.0 register fixes and this one does not, by field.
TEST_F(JsonTest, CsdWarningsAreAList) {
    const Json j = object({"csd", "402600325B5900003B377F800A4040AE"}, 0);
    ASSERT_EQ(j.find("warnings")->items.size(), 1u);
    EXPECT_EQ(j.find("warnings")->items[0].string, "TAAC: a version 2.0 register has 0x0E");
    EXPECT_EQ(j.find("TAAC")->number, 0x26u);
}

} // namespace
