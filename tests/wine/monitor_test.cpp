// The registry monitor on Wine: the real service started as the tray starts
// it, and the card-reader driver played by another process that reports an
// SDIO card in the parameters key. The service consumes each report (the
// value goes back to 0); the test measures how long after the write.
#include "service/parameters.h"
#include "service/service.h"

#include "../conformance/harness.h"
#include "listener_window.h"
#include "wine_support.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace winetest;

constexpr DWORD kListeningLimitMs = 5000;
constexpr int kReports = 5;
// Time for the monitor's own cycle after a report is cleared (it reads,
// closes, reopens and arms the key again, well under a millisecond), so that
// the next write finds it armed: a write landing between its read and its
// arming is seen only at the key's next change.
constexpr DWORD kSettleMs = 100;
constexpr DWORD kConsumeLimitMs = 5000;
constexpr DWORD kWriterLimitMs = 10000;
// A report is consumed well within this on an idle machine; the service's
// notification fires within about a millisecond of the write.
constexpr double kLatencyBoundMs = 250;
// Stopping is quick: the reports come closer together than the request
// filter's quiet period, so no driver switch is under way at the stop.
constexpr DWORD kStopLimitMs = 5000;

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}

double ms(long long us) {
    return static_cast<double>(us) / 1000.0;
}

} // namespace

CONFORMANCE_TEST(monitor_consumes_the_drivers_report) {
    ParametersKey parameters;
    ok(parameters.made(), "cannot make the parameters key\n");
    ok(parameters.set(kValueIsSupportSDIO, 1) && parameters.set(kValueDeviceId, 0x1234),
       "cannot write the parameters\n");

    ok(makeDesktop(), "no desktop window%s\n", displayHint());
    long long start = nowUs();
    SvcInit(0, 0);
    ok(SvcIsRunning(), "the service did not start\n");
    if (!SvcIsRunning())
        return;
    trace("SvcInit took %.1f ms\n", ms(nowUs() - start));
    ok(gdwDeviceId == 0x1234, "the service read DeviceId %#x\n", u(gdwDeviceId));
    // All of the service runs, its listener too, as in the tray program.
    ok(waitForListener(GetThreadId(ghThreadDialog), kListeningLimitMs) != nullptr,
       "the service's listener did not come up%s\n", displayHint());

    const std::string writer = "\"" + programFolder() + "sdio_writer.exe\"";
    std::vector<double> latencies;
    for (int report = 1; report <= kReports; ++report) {
        // Absent, then 1 by the writer, then 0 by the service: a 0 is the
        // service's answer to this report and no earlier one.
        parameters.remove(kValueIsSDIOPresent);
        clearProbe();
        Sleep(kSettleMs);

        HANDLE process = startProgram(writer);
        ok(process != nullptr, "cannot start %s: error %u\n", writer.c_str(), u(GetLastError()));
        long long consumedAt = 0;
        bool seenReport = false;
        for (long long deadline = nowUs() + kConsumeLimitMs * 1000LL; nowUs() < deadline; Sleep(1)) {
            DWORD value = kValueAbsent;
            if (!parameters.read(kValueIsSDIOPresent, &value))
                continue;
            if (value == 1)
                seenReport = true;
            if (value == 0) {
                consumedAt = nowUs();
                break;
            }
        }
        long exitCode = finishProgram(process, kWriterLimitMs);
        ok(exitCode == 0, "report %d: the writer ended with %ld\n", report, exitCode);
        ok(consumedAt != 0, "report %d: not consumed within %u ms\n", report, u(kConsumeLimitMs));

        long long wroteAt = 0;
        if (consumedAt && readQword(HKEY_CURRENT_USER, kProbeKey, kProbeWriterWroteAt, &wroteAt)) {
            double latency = ms(consumedAt - wroteAt);
            trace("report %d: consumed %.2f ms after the write (the test %s the 1)\n", report, latency,
                  seenReport ? "saw" : "never saw");
            ok(latency >= 0 && latency < kLatencyBoundMs, "report %d: consumed %.2f ms after the write\n", report,
               latency);
            latencies.push_back(latency);
        }
    }
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        trace("write to consumption over %u reports, polled every 1 ms: min %.2f ms, median %.2f ms, max %.2f ms\n",
              static_cast<unsigned>(latencies.size()), latencies.front(), latencies[latencies.size() / 2],
              latencies.back());
    }

    start = nowUs();
    SvcStop();
    SvcCleanup();
    double stopped = ms(nowUs() - start);
    trace("SvcStop and SvcCleanup took %.1f ms\n", stopped);
    ok(!SvcIsRunning(), "the service still runs\n");
    ok(stopped < kStopLimitMs, "stopping took %.1f ms\n", stopped);
}
