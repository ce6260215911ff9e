// The request filter's decisions, driven with tick values of the test's
// choosing against a world whose answers the test sets.
#include "service/request_filter.h"
#include "sim_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The decisions trace; a machine takes the trace.
using RequestFilterTest = SimTest;

class FakeWorld : public FilterWorld {
public:
    bool busEmpty = true;
    bool makerBound = false;
    bool flagReadable = true;
    DWORD flag = 0;
    std::vector<std::string> log;

    bool sdBusEmpty() override {
        log.push_back("bus?");
        return busEmpty;
    }
    bool makerDriverBound() override {
        log.push_back("maker?");
        return makerBound;
    }
    bool readSwitchFlag(DWORD* out) override {
        log.push_back("flag?");
        if (flagReadable)
            *out = flag;
        return flagReadable;
    }
    void commandStandardDriver() override { log.push_back("STANDARD"); }
    void commandMakerDriver() override { log.push_back("MAKER"); }
    void resetStandardCommand() override { log.push_back("reset standard"); }

    std::vector<std::string> commands() const {
        std::vector<std::string> out;
        for (const auto& s : log)
            if (s == "STANDARD" || s == "MAKER")
                out.push_back(s);
        return out;
    }
};

// Runs the filter the way its thread does: a time-out each `waitMs()` after
// the last wake-up (none while it waits without one), requests at the given
// ticks.
struct Timeline {
    DWORD start;
    RequestFilter filter;
    FakeWorld world;
    DWORD now;
    DWORD lastWake;
    std::vector<DWORD> evaluations; // ticks of time-outs that decided something
    std::vector<DWORD> timeouts;    // ticks of every time-out

    explicit Timeline(DWORD startTick = 0) : start(startTick), filter(startTick), now(startTick), lastWake(startTick) {}

    void runUntil(DWORD until) {
        while (filter.waitMs() != INFINITE && static_cast<DWORD>(until - lastWake) >= filter.waitMs() &&
               static_cast<DWORD>(until - lastWake) < 0x80000000u) {
            lastWake += filter.waitMs();
            now = lastWake;
            timeouts.push_back(now - start);
            auto before = world.log.size();
            DWORD pendingBefore = filter.curRequest;
            filter.timeout(now, world);
            if (world.log.size() != before || (pendingBefore != NoRequest && filter.curRequest == NoRequest))
                evaluations.push_back(now - start);
        }
    }
    void request(DWORD at, DWORD kind) {
        runUntil(start + at);
        now = lastWake = start + at;
        filter.request(kind, now);
    }
};

TEST_F(RequestFilterTest, LoneSdioRequestCommandsTheStandardDriverAboutTwoSecondsLater) {
    Timeline t;
    t.request(10000, ChangeMicrosoftRequest);
    t.runUntil(20000);
    EXPECT_EQ(t.world.commands(), std::vector<std::string>{"STANDARD"});
    EXPECT_EQ(t.evaluations, std::vector<DWORD>{12000});
}

TEST_F(RequestFilterTest, BurstOfDeviceChangesGivesOneEvaluationAfterItsLast) {
    Timeline t;
    t.world.flag = 1;
    for (DWORD at = 10000; at <= 11200; at += 300)
        t.request(at, ChangeHXDriverRequest);
    t.runUntil(20000);
    EXPECT_EQ(t.world.commands(), std::vector<std::string>{"MAKER"});
    EXPECT_EQ(t.evaluations, std::vector<DWORD>{13200});
    EXPECT_EQ(t.world.log, (std::vector<std::string>{"bus?", "reset standard", "flag?", "MAKER"}));
}

TEST_F(RequestFilterTest, LaterRequestOfTheOtherKindWins) {
    Timeline t;
    t.request(10000, ChangeHXDriverRequest);
    t.request(10500, ChangeMicrosoftRequest);
    t.runUntil(20000);
    EXPECT_EQ(t.world.commands(), std::vector<std::string>{"STANDARD"});
    EXPECT_EQ(t.world.log, std::vector<std::string>{"STANDARD"}) << "no SD-bus check";
}

TEST_F(RequestFilterTest, BothRequestsAtOnceActOnTheSdioRequest) {
    // The thread takes the lower index first: the device change, then the
    // SDIO report, at the same tick.
    Timeline t;
    t.request(10000, ChangeHXDriverRequest);
    t.filter.request(ChangeMicrosoftRequest, t.now);
    t.runUntil(20000);
    EXPECT_EQ(t.world.commands(), std::vector<std::string>{"STANDARD"});
}

TEST_F(RequestFilterTest, DeviceChangeDecisionFollowsTheBusAndTheFlag) {
    const struct {
        const char* name;
        bool busEmpty;
        bool makerBound;
        bool flagReadable;
        DWORD flag;
        std::vector<std::string> log;
    } cases[] = {
        {"empty bus, flag 0: nothing", true, false, true, 0, {"bus?", "reset standard", "flag?"}},
        {"empty bus, flag 1: back to the maker", true, false, true, 1, {"bus?", "reset standard", "flag?", "MAKER"}},
        {"empty bus, flag unreadable: last value 0", true, false, false, 1, {"bus?", "reset standard", "flag?"}},
        {"device on the bus, standard bound: nothing", false, false, true, 1, {"bus?", "maker?"}},
        {"device on the bus, maker bound: standard", false, true, true, 0, {"bus?", "maker?", "STANDARD"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Timeline t;
        t.world.busEmpty = c.busEmpty;
        t.world.makerBound = c.makerBound;
        t.world.flagReadable = c.flagReadable;
        t.world.flag = c.flag;
        t.request(5000, ChangeHXDriverRequest);
        t.runUntil(7000);
        EXPECT_EQ(t.world.log, c.log);
    }
}

TEST_F(RequestFilterTest, FlagKeepsItsLastReadValue) {
    Timeline t;
    t.world.flag = 1;
    t.request(5000, ChangeHXDriverRequest);
    t.runUntil(10000);
    t.world.flagReadable = false;
    t.request(20000, ChangeHXDriverRequest);
    t.runUntil(30000);
    EXPECT_EQ(t.world.commands(), (std::vector<std::string>{"MAKER", "MAKER"}));
    EXPECT_EQ(t.filter.dwSwitchFlag, 1u);
}

TEST_F(RequestFilterTest, MakerBoundWithADeviceRepeatsTheStandardCommandAtEachEvaluation) {
    Timeline t;
    t.world.busEmpty = false;
    t.world.makerBound = true;
    t.request(5000, ChangeHXDriverRequest);
    t.runUntil(12500);
    // Each evaluation re-arms the pending request; the next comes at the
    // first time-out more than 1.5 s later.
    EXPECT_EQ(t.evaluations, (std::vector<DWORD>{7000, 9000, 11000}));
    EXPECT_EQ(t.world.commands(), (std::vector<std::string>{"STANDARD", "STANDARD", "STANDARD"}));
    t.world.makerBound = false;
    t.runUntil(20000);
    EXPECT_EQ(t.world.commands().size(), 3u);
    EXPECT_EQ(t.filter.curRequest, NoRequest);
}

TEST_F(RequestFilterTest, RepeatOfTheLastSettledRequestWithinTwoSecondsIsDiscarded) {
    const struct {
        DWORD requestAt;
        DWORD timeoutAt;
        bool commanded;
    } cases[] = {
        {6999, 7000, false}, // 1999 ms after the settled one: discarded at once, quiet period or not
        {7000, 9000, true},  // 2000 ms after: a request of its own
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requestAt);
        FakeWorld world;
        RequestFilter f(0);
        f.lastRequest = ChangeMicrosoftRequest;
        f.lastRequestTime = 5000;
        f.request(ChangeMicrosoftRequest, c.requestAt);
        f.timeout(c.timeoutAt, world);
        EXPECT_EQ(world.commands().size(), c.commanded ? 1u : 0u);
        EXPECT_EQ(f.curRequest, NoRequest);
        EXPECT_EQ(f.lastRequestTime, c.requestAt);
    }
}

TEST_F(RequestFilterTest, QuietPeriodIsMoreThan1500Ms) {
    // Wake-ups fall on any tick once the waits' own lengths and the requests' times mix.
    const struct {
        DWORD quietMs;
        std::size_t commands;
    } cases[] = {{1450, 0}, {1500, 0}, {1501, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quietMs);
        FakeWorld world;
        RequestFilter f(0);
        f.request(ChangeMicrosoftRequest, 10000);
        f.timeout(10000 + c.quietMs, world);
        EXPECT_EQ(world.commands().size(), c.commands);
    }
}

TEST_F(RequestFilterTest, DifferencesSurviveTheTickCounterWrap) {
    for (DWORD start : {0xFFFFF000u, 0xFFFFFFFFu - 10500u, 0xFFFFFFFFu - 11999u}) {
        SCOPED_TRACE(start);
        Timeline t(start);
        t.request(10000, ChangeMicrosoftRequest);
        t.runUntil(20000);
        EXPECT_EQ(t.world.commands(), std::vector<std::string>{"STANDARD"});
        EXPECT_EQ(t.evaluations, std::vector<DWORD>{12000});
    }
}

TEST_F(RequestFilterTest, WaitsWithoutTimeOutOnceTheLastRequestHasAgedOut) {
    Timeline t;
    EXPECT_EQ(t.filter.waitMs(), INFINITE) << "nothing pending from the start";
    t.request(10000, ChangeMicrosoftRequest);
    EXPECT_EQ(t.filter.waitMs(), kFilterWaitMs);
    t.runUntil(13999);
    EXPECT_EQ(t.filter.lastRequest, ChangeMicrosoftRequest) << "settled at 12000, not yet aged out";
    EXPECT_EQ(t.filter.waitMs(), kFilterWaitMs);
    t.runUntil(14000);
    EXPECT_EQ(t.filter.waitMs(), INFINITE) << "the time-out at 14000 settled nothing";
    t.runUntil(3600000);
    EXPECT_EQ(t.timeouts, (std::vector<DWORD>{11000, 12000, 13000, 14000}));
    // The next request starts the waits afresh: evaluated 2000 ms after it.
    t.request(3600500, ChangeMicrosoftRequest);
    t.runUntil(3610000);
    EXPECT_EQ(t.evaluations, (std::vector<DWORD>{12000, 3602500}));
}

TEST_F(RequestFilterTest, IdleTimeoutsOnlySettleNothing) {
    // The thread no longer waits with a time-out while idle; were it woken
    // by one all the same, nothing would come of it.
    Timeline t;
    for (DWORD now = 1000; now <= 60000; now += kFilterWaitMs)
        t.filter.timeout(now, t.world);
    EXPECT_TRUE(t.world.log.empty());
    EXPECT_EQ(t.filter.lastRequest, NoRequest);
    EXPECT_EQ(t.filter.waitMs(), INFINITE);
}

} // namespace
