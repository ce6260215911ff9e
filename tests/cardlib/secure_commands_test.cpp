// The secure command family against the card model: what reaches the card
// and comes back, the retries in virtual time, the refusals, and which of
// the caller's bytes a failure leaves written.
#include "card_fixture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>

namespace {

using sim::CommandReply;
constexpr BYTE kUntouched = 0xEE;

class SecureTest : public CardTest {
  protected:
    void SetUp() override {
        CardTest::SetUp();
        initialise();
    }
    void allowWrites() {
        uint16_t status = 0;
        ASSERT_EQ(DDChkSDCard(0, &status), 0u);
        machine->files().clearRequests();
    }
    // The (start, count) of each address-set command sent.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> addressesSet() const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& p : packets())
            if (field(p.in, 16) == 0xA0000050)
                out.emplace_back(field(p.in, 28), field(p.in, 32));
        return out;
    }
    static std::vector<BYTE> blocksOf(std::size_t count) { return std::vector<BYTE>(count * 512, kUntouched); }
    static bool untouched(const std::vector<BYTE>& b, std::size_t block) {
        return std::all_of(b.begin() + block * 512, b.begin() + (block + 1) * 512,
                           [](BYTE x) { return x == kUntouched; });
    }
    static bool zero(const std::vector<BYTE>& b, std::size_t from, std::size_t to) {
        return std::all_of(b.begin() + from, b.begin() + to, [](BYTE x) { return x == 0; });
    }
};

TEST_F(SecureTest, ShortCommandsCarryTheirEightBytesBothWays) {
    const std::array<uint8_t, 8> challenge = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    const std::array<uint8_t, 8> response = {9, 8, 7, 6, 5, 4, 3, 2};
    std::array<uint8_t, 8> callerChallenge = challenge;
    EXPECT_EQ(DDSetChallenge(callerChallenge.data()), 0u);
    EXPECT_EQ(callerChallenge, challenge); // read, never written
    EXPECT_EQ(driver().hostChallenge(), challenge);
    EXPECT_EQ(DDSetResponse(response.data()), 0u);
    EXPECT_EQ(driver().hostResponse(), response);

    const auto card = driver().registers();
    std::array<uint8_t, 8> got{};
    EXPECT_EQ(DDGetMID(got.data()), 0u);
    EXPECT_EQ(got, card.mediaId);
    EXPECT_EQ(DDGetChallenge(got.data()), 0u);
    EXPECT_EQ(got, card.challenge);
    EXPECT_EQ(DDGetResponse(got.data()), 0u);
    EXPECT_EQ(got, card.response);
    EXPECT_EQ(DDChangeSA(), 0u);
    EXPECT_EQ(driver().changeSaCount(), 1u);
}

TEST_F(SecureTest, AFailedGetStillOverwritesTheCallersBytesAndAFailedSetNever) {
    const auto t0 = machine->now();
    using Get = uint32_t (*)(uint8_t*);
    for (auto [name, get, code] : {std::tuple<const char*, Get, uint32_t>{"DDGetChallenge", DDGetChallenge, 0xA0000040},
                                   {"DDGetResponse", DDGetResponse, 0xA0000044}}) {
        SCOPED_TRACE(name);
        std::array<uint8_t, 8> bytes;
        bytes.fill(kUntouched);
        driver().setReply(code, CommandReply::Fails, 1);
        EXPECT_EQ(get(bytes.data()), 0x12FFu);
        EXPECT_EQ(bytes, (std::array<uint8_t, 8>{})); // the payload as it stood: zeros
        bytes.fill(kUntouched);
        driver().setReply(code, CommandReply::LeavesPayload, 1);
        EXPECT_EQ(get(bytes.data()), 0u);
        EXPECT_EQ(bytes, (std::array<uint8_t, 8>{}));
    }
    std::array<uint8_t, 8> challenge;
    challenge.fill(0x33);
    driver().setReply(0xA000003C, CommandReply::Fails, 1);
    EXPECT_EQ(DDSetChallenge(challenge.data()), 0x12FFu);
    driver().setReply(0xA0000048, CommandReply::Fails, 1);
    EXPECT_EQ(DDSetResponse(challenge.data()), 0x12FFu);
    driver().setReply(0xA000004C, CommandReply::Fails, 1);
    EXPECT_EQ(DDChangeSA(), 0x12FFu);
    EXPECT_EQ(packets().size(), 7u); // one attempt each, with no pause after it
    EXPECT_EQ(machine->now(), t0);
}

// Refused before anything is sent: a null buffer, and a range whose last
// block is past what its numbering holds (rather than wrapped round to 0).
TEST_F(SecureTest, NullBuffersAndRangesPastTheLastBlockAreRefusedWithNothingSent) {
    static auto dest = blocksOf(2);
    std::vector<std::function<uint32_t()>> calls = {
        [] { return DDGetMID(nullptr); },        [] { return DDSetChallenge(nullptr); },
        [] { return DDGetChallenge(nullptr); },  [] { return DDSetResponse(nullptr); },
        [] { return DDGetResponse(nullptr); },   [] { return DDReadMKB(nullptr, 1, 0, 0); },
        [] { return DDSecureRead(nullptr, 1); }, [] { return DDReadPT(nullptr, 1, 0); },
        [] { return DDReadMKB(dest.data(), 2, 0, 0xFFFF); }, // index 0x10000
        [] { return DDReadPT(dest.data(), 2, 0xFFFFFFFFu); }, // block 2^32
    };
    for (std::size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i](), 0x12FFu) << i;
    allowWrites();
    EXPECT_EQ(DDSecureWrite(nullptr, 1), 0x12FFu);
    EXPECT_TRUE(packets().empty());
    // With no blocks there is nothing to read or write through the pointer.
    EXPECT_EQ(DDSecureRead(nullptr, 0), 0u);
    EXPECT_EQ(DDReadPT(nullptr, 0, 0), 0u);
}

// The identifier is asked for up to ten times, 2000 ms after every failed
// attempt, the tenth included.
TEST_F(SecureTest, MediaIdRetriesTenTimesTwoSecondsApart) {
    const struct {
        unsigned failures;
        uint32_t status;
        std::uint64_t ms;
        unsigned attempts;
    } cases[] = {
        {0, 0, 0, 1}, {1, 0, 2000, 2}, {9, 0, 18000, 10}, {10, 0x12FF, 20000, 10}, {0xFFFF, 0x12FF, 20000, 10},
    };
    const auto mid = driver().registers().mediaId;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.failures) + " failures");
        machine->files().clearRequests();
        driver().clearReplies();
        if (c.failures)
            driver().setReply(0xA0000034, CommandReply::Fails, c.failures);
        std::array<uint8_t, 8> bytes;
        bytes.fill(kUntouched);
        auto t0 = machine->now();
        EXPECT_EQ(DDGetMID(bytes.data()), c.status);
        EXPECT_EQ(machine->now() - t0, c.ms);
        EXPECT_EQ(packets().size(), c.attempts);
        const std::array<uint8_t, 8> want = c.status ? std::array<uint8_t, 8>{} : mid;
        EXPECT_EQ(bytes, want);
    }
}

TEST_F(SecureTest, MediaKeyBlocksComeBackWithTheirIndexAndSelector) {
    auto dest = blocksOf(2);
    EXPECT_EQ(DDReadMKB(dest.data(), 0, 5, 0), 0u);
    EXPECT_TRUE(packets().empty());

    // Up to the last index there is (past it, nothing is sent).
    EXPECT_EQ(DDReadMKB(dest.data(), 2, 5, 0xFFFE), 0u);
    auto sent = packets();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(field(sent[0].in, 28), 0x0105FFFEu); // index 0xFFFE, selector 5, one block
    EXPECT_EQ(field(sent[1].in, 28), 0x0105FFFFu);
    for (unsigned i = 0; i < 512; ++i) {
        ASSERT_EQ(dest[i], sim::CardRegisters::mkbByte(5, 0xFFFE, i)) << i;
        ASSERT_EQ(dest[512 + i], sim::CardRegisters::mkbByte(5, 0xFFFF, i)) << i;
    }
}

TEST_F(SecureTest, AMediaKeyBlockThatFailsTenTimesEndsTheReadAfterTwentySeconds) {
    auto dest = blocksOf(3);
    driver().setReply(0xA0000030, CommandReply::Fails, 9);
    EXPECT_EQ(DDReadMKB(dest.data(), 1, 1, 0), 0u); // nine failures: the tenth attempt answers
    machine->files().clearRequests();
    // The second block fails every attempt.
    auto t0 = machine->now();
    driver().setReply(0xA0000030, CommandReply::Fails, 0);
    EXPECT_EQ(DDReadMKB(dest.data(), 3, 1, 0), 0x12FFu);
    EXPECT_EQ(machine->now() - t0, 20000u);
    EXPECT_EQ(packets().size(), 10u);
    // The failed block's slot holds the packet's payload as it stood: the
    // request word, then zeros. Later slots are untouched.
    EXPECT_EQ(field(std::vector<BYTE>(dest.begin(), dest.begin() + 4), 0), 0x01010000u);
    EXPECT_TRUE(zero(dest, 4, 512));
    EXPECT_TRUE(untouched(dest, 1));
}

TEST_F(SecureTest, SecureWriteIsRefusedUntilACardCheckClearsTheFlag) {
    auto data = blocksOf(1);
    EXPECT_EQ(DDSecureWrite(data.data(), 1), 0x1005u);
    EXPECT_TRUE(packets().empty());
    // A write-protected card keeps the flag set.
    driver().setRegisters([&] {
        auto r = driver().registers();
        r.writeProtectAnswer = 1;
        return r;
    }());
    uint16_t status = 0;
    EXPECT_EQ(DDChkSDCard(0, &status), 0u);
    EXPECT_EQ(status, 0x0003);
    machine->files().clearRequests();
    EXPECT_EQ(DDSecureWrite(data.data(), 1), 0x1005u);
    EXPECT_TRUE(packets().empty());
}

TEST_F(SecureTest, SixtyFiveThousandBlocksGoOutAndComeBackByteForByte) {
    allowWrites();
    std::vector<BYTE> data(65535u * 512);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i * 2654435761u >> 13);
    EXPECT_EQ(DDSecureWrite(data.data(), 65535), 0u);
    std::vector<BYTE> back(data.size(), kUntouched);
    EXPECT_EQ(DDSecureRead(back.data(), 65535), 0u);
    EXPECT_TRUE(back == data);
    EXPECT_EQ(addressesSet(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 65535}, {0, 65535}}));
    EXPECT_EQ(field(packets()[3].in, 24), 65535u * 512);
}

TEST_F(SecureTest, ZeroBlocksStillSendBothCommands) {
    allowWrites();
    EXPECT_EQ(DDSecureRead(nullptr, 0), 0u);
    EXPECT_EQ(DDSecureWrite(nullptr, 0), 0u);
    EXPECT_EQ(commandsSent(), (std::vector<std::uint32_t>{0xA0000050, 0xA000005C, 0xA0000050, 0xA0000060}));
    EXPECT_EQ(addressesSet(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 0}, {0, 0}}));
}

TEST_F(SecureTest, ProtectedBlocksAreReadOneAddressAtATime) {
    auto dest = blocksOf(3);
    EXPECT_EQ(DDReadPT(dest.data(), 3, 7), 0u);
    EXPECT_EQ(addressesSet(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{7, 1}, {8, 1}, {9, 1}}));
    for (unsigned b = 0; b < 3; ++b)
        for (unsigned i = 0; i < 512; ++i)
            ASSERT_EQ(dest[b * 512 + i], sim::CardRegisters::protectedByte(7 + b, i));
    machine->files().clearRequests();
    // Up to the last block a 32-bit address names (past it, nothing is sent).
    EXPECT_EQ(DDReadPT(dest.data(), 2, 0xFFFFFFFEu), 0u);
    EXPECT_EQ(addressesSet(),
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0xFFFFFFFEu, 1}, {0xFFFFFFFFu, 1}}));
}

// Which slots a failure leaves: those before it hold their data; a failed
// data command overwrites its slot with the payload as it stood; a failed
// address-set or allocation leaves the slot untouched.
TEST_F(SecureTest, APartialProtectedReadKeepsWhatCameBefore) {
    enum Step { AddressSet, DataCommand, Packet };
    const struct {
        const char* what;
        Step step;
        std::size_t sent; // commands that reached the driver
    } cases[] = {
        {"second address-set fails", AddressSet, 3},
        {"second data command fails", DataCommand, 4},
        {"second packet cannot be had", Packet, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine->files().clearRequests();
        driver().clearReplies();
        if (c.step == AddressSet)
            driver().setReply(0xA0000050, CommandReply::Fails, 1, sim::SdController::kFailure, 1);
        else if (c.step == DataCommand)
            driver().setReply(0xA0000054, CommandReply::Fails, 1, sim::SdController::kFailure, 1);
        else
            machine->faults().failNth("HeapAlloc", 2, 0);
        auto dest = blocksOf(3);
        EXPECT_EQ(DDReadPT(dest.data(), 3, 0), 0x12FFu);
        EXPECT_EQ(dest[0], sim::CardRegisters::protectedByte(0, 0));
        const bool zeroed = c.step == DataCommand;
        EXPECT_EQ(untouched(dest, 1), !zeroed);
        EXPECT_EQ(zero(dest, 512, 1024), zeroed);
        EXPECT_TRUE(untouched(dest, 2));
        EXPECT_EQ(packets().size(), c.sent);
    }
}

TEST_F(SecureTest, SecureTransfersFailingAtEachStep) {
    allowWrites();
    enum Step { AddressSet, DataCommand, Packet };
    const struct {
        const char* what;
        Step step;
        bool dataCommandSent;
    } cases[] = {
        {"address-set fails", AddressSet, false},
        {"data command fails", DataCommand, true},
        {"packet cannot be had", Packet, false},
    };
    for (bool write : {false, true})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(write ? "write: " : "read: ") + c.what);
            machine->files().clearRequests();
            const uint32_t data = write ? 0xA0000060 : 0xA000005C;
            if (c.step == AddressSet)
                driver().setReply(0xA0000050, CommandReply::Fails, 1);
            else if (c.step == DataCommand)
                driver().setReply(data, CommandReply::Fails, 1);
            else
                machine->faults().failNth("HeapAlloc", 1, 0);
            auto bytes = blocksOf(2);
            EXPECT_EQ(write ? DDSecureWrite(bytes.data(), 2) : DDSecureRead(bytes.data(), 2), 0x12FFu);
            std::vector<std::uint32_t> want = {0xA0000050};
            if (c.dataCommandSent)
                want.push_back(data);
            EXPECT_EQ(commandsSent(), want);
            // A failed read overwrites every block with the payload as it
            // stood; nothing else touches the caller's bytes.
            bool overwritten = !write && c.step == DataCommand;
            EXPECT_EQ(zero(bytes, 0, bytes.size()), overwritten);
            EXPECT_EQ(untouched(bytes, 0) && untouched(bytes, 1), !overwritten);
        }
}

} // namespace
