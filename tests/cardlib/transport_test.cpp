// The command packet as it leaves the library, byte for byte, for every
// command code: the header, the payload, the sizes.
#include "card_fixture.h"

#include <array>
#include <functional>
#include <string>

namespace {

using Bytes = std::vector<BYTE>;

struct Expected {
    std::uint32_t code;
    std::uint32_t length;
    Bytes payloadStart; // the payload's first bytes as sent; the rest is zero
};

class TransportTest : public CardTest {
  protected:
    // Every packet sent carries the fixed header and exactly its sizes.
    void checkPackets(const std::vector<Expected>& expected) {
        auto sent = packets();
        ASSERT_EQ(sent.size(), expected.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const auto& p = sent[i];
            const auto& e = expected[i];
            SCOPED_TRACE("packet " + std::to_string(i));
            EXPECT_EQ(p.inSize, 28 + e.length);
            EXPECT_EQ(p.outSize, 28 + e.length);
            ASSERT_EQ(p.in.size(), 28 + e.length);
            const Bytes header(p.in.begin(), p.in.begin() + 16);
            EXPECT_EQ(header, (Bytes{28, 0, 0, 0, 'H', 'X', 0, 0, 0, 0, 0, 0, 15, 0, 0, 0}));
            EXPECT_EQ(field(p.in, 16), e.code);
            EXPECT_EQ(field(p.in, 20), 0u); // ReturnCode
            EXPECT_EQ(field(p.in, 24), e.length);
            Bytes payload(p.in.begin() + 28, p.in.end());
            Bytes want(e.length, 0);
            std::copy(e.payloadStart.begin(), e.payloadStart.end(), want.begin());
            EXPECT_EQ(payload, want);
        }
    }
};

Bytes le(std::uint32_t a, std::uint32_t b) {
    return {BYTE(a), BYTE(a >> 8), BYTE(a >> 16), BYTE(a >> 24), BYTE(b), BYTE(b >> 8), BYTE(b >> 16), BYTE(b >> 24)};
}

TEST_F(TransportTest, EveryCommandCodeAsSent) {
    const std::array<uint8_t, 8> eight = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<uint8_t> blocks(3 * 512, 0x5A);
    std::vector<uint8_t> sink(3 * 512);
    uint16_t status = 0;
    uint8_t bytes[8];
    const Bytes sentData(blocks.begin(), blocks.end());
    const struct {
        const char* call;
        std::function<uint32_t()> run;
        std::vector<Expected> packets;
    } cases[] = {
        {"DDSysInit", [] { return DDSysInit(); }, {{0xA00000CC, 4, {}}}},
        {"DDChkSDCard",
         [&] { return DDChkSDCard(0, &status); },
         {{0xA0000038, 4, {}}, {0xA0000068, 4, {}}, {0xA000002C, 16, {}}}},
        {"DDReadMKB",
         [&] { return DDReadMKB(sink.data(), 1, 5, 0x0102); },
         {{0xA0000030, 512, {0x02, 0x01, 0x05, 0x01}}}},
        {"DDGetMID", [&] { return DDGetMID(bytes); }, {{0xA0000034, 8, {}}}},
        {"DDSetChallenge",
         [&] { return DDSetChallenge(eight.data()); },
         {{0xA000003C, 8, Bytes(eight.begin(), eight.end())}}},
        {"DDGetChallenge", [&] { return DDGetChallenge(bytes); }, {{0xA0000040, 8, {}}}},
        {"DDGetResponse", [&] { return DDGetResponse(bytes); }, {{0xA0000044, 8, {}}}},
        {"DDSetResponse",
         [&] { return DDSetResponse(eight.data()); },
         {{0xA0000048, 8, Bytes(eight.begin(), eight.end())}}},
        {"DDChangeSA", [] { return DDChangeSA(); }, {{0xA000004C, 0, {}}}},
        {"DDSecureRead",
         [&] { return DDSecureRead(sink.data(), 3); },
         {{0xA0000050, 8, le(0, 3)}, {0xA000005C, 1536, {}}}},
        {"DDReadPT", [&] { return DDReadPT(sink.data(), 1, 7); }, {{0xA0000050, 8, le(7, 1)}, {0xA0000054, 512, {}}}},
        {"DDSecureWrite",
         [&] { return DDSecureWrite(blocks.data(), 3); },
         {{0xA0000050, 8, le(0, 3)}, {0xA0000060, 1536, sentData}}},
    };
    driver().setRegisters([&] {
        auto r = driver().registers();
        r.highCapacityAnswer = 1; // so that the card check reads the CSD too
        return r;
    }());
    initialise();
    ferrocard::library().writeProtected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        machine->files().clearRequests();
        EXPECT_EQ(c.run(), 0u);
        checkPackets(c.packets);
    }
}

TEST_F(TransportTest, AReplyWithANonzeroReturnCodeIsStillASuccess) {
    initialise();
    uint8_t mid[8] = {};
    driver().setReply(0xA0000034, sim::CommandReply::NonzeroReturnCode);
    driver().setReply(0xA000004C, sim::CommandReply::NonzeroReturnCode);
    EXPECT_EQ(DDGetMID(mid), 0u);
    EXPECT_EQ(DDChangeSA(), 0u);
    auto sent = packets();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(field(sent[0].reply, 20), 1u); // the driver did say 1
    EXPECT_EQ(mid[0], driver().registers().mediaId[0]);
}

} // namespace
