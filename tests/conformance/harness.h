// A small harness in the manner of Wine's own API tests, so that one source
// checks the simulated machine and the real platform alike.
//
//   CONFORMANCE_TEST(events_manual_reset) {
//       HANDLE e = CreateEventA(NULL, TRUE, FALSE, NULL);
//       ok(e != NULL, "CreateEventA failed, error %u\n", (unsigned)GetLastError());
//       todo_on(on_sim(), "the simulation leaves the event set") {
//           ok(WaitForSingleObject(e, 0) == WAIT_TIMEOUT, "still signalled\n");
//       }
//   }
//
// Inside a todo_on block whose condition holds, a failing check is a known
// difference (counted, printed, not a failure) and a passing one is a failure:
// the difference has gone and the mark must go with it.
//
// Messages are printf formats. DWORD is `unsigned long` on Windows and
// `unsigned int` here, so pass Win32 numbers through (unsigned) with %u or %#x.
#pragma once

namespace conformance {

using TestFunction = void (*)();

// Registers a test at static-initialisation time; tests run in the order of
// their names, so related tests share a prefix (event_, registry_, ...).
struct Registration {
    Registration(const char* name, TestFunction function);
};

// The checks; `ok` below is what tests write.
bool check_at(const char* file, int line, bool condition, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// An informational line, tagged with file:line like a check.
void trace_at(const char* file, int line, const char* format, ...) __attribute__((format(printf, 3, 4)));

// One todo_on block: active while the object lives, for the thread that made it.
class TodoScope {
public:
    TodoScope(bool active, const char* why);
    ~TodoScope();
    TodoScope(const TodoScope&) = delete;
    TodoScope& operator=(const TodoScope&) = delete;
    // True once, so that the for-loop in todo_on runs its body once.
    bool once() { return first_ ? (first_ = false, true) : false; }

private:
    bool first_ = true;
    bool active_;
    const char* why_;
    const TodoScope* outer_;
};

// "sim", "wine" or "windows"; defined by the main the build chose.
const char* platform_name();
bool on_sim();
bool on_wine();
bool on_windows();

// For the mains: run() runs the tests named on the command line (all when
// none; --list names them); finish() prints the closing line,
// "N passed, N failed[, N known]", and answers the process exit code.
void run(int argc, char** argv);
int finish();

} // namespace conformance

// Tests ask these unqualified, as Wine's tests ask winetest_platform.
using conformance::on_sim;
using conformance::on_windows;
using conformance::on_wine;
using conformance::platform_name;

#define ok(condition, ...) ::conformance::check_at(__FILE__, __LINE__, (condition), __VA_ARGS__)
#define trace(...) ::conformance::trace_at(__FILE__, __LINE__, __VA_ARGS__)

#define CONFORMANCE_CONCAT2(a, b) a##b
#define CONFORMANCE_CONCAT(a, b) CONFORMANCE_CONCAT2(a, b)

// todo_on(condition, "why") { ok(...); ... }
#define todo_on(condition, why)                                                                                        \
    for (::conformance::TodoScope CONFORMANCE_CONCAT(todo_scope_, __LINE__)((condition), (why));                       \
         CONFORMANCE_CONCAT(todo_scope_, __LINE__).once();)

#define CONFORMANCE_TEST(name)                                                                                         \
    static void name();                                                                                                \
    static const ::conformance::Registration CONFORMANCE_CONCAT(name, _registration)(#name, name);                     \
    static void name()
