#include "harness.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace conformance {

namespace {

struct Test {
    const char* name;
    TestFunction function;
};

// Filled during static initialisation, before main; a function-local static
// so that registrations from every file find it built.
std::vector<Test>& registry() {
    static std::vector<Test> tests;
    return tests;
}

std::atomic<unsigned> gPassed{0};
std::atomic<unsigned> gFailed{0};
std::atomic<unsigned> gKnown{0};

// Checks run on worker threads too; keep their lines whole. A spin lock,
// because the harness must not depend on the runtime's thread model.
std::atomic_flag gOutput = ATOMIC_FLAG_INIT;

struct OutputLock {
    OutputLock() {
        while (gOutput.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~OutputLock() { gOutput.clear(std::memory_order_release); }
};

thread_local const TodoScope* tCurrentTodo = nullptr;
thread_local const char* tActiveWhy = nullptr;

const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

void print(const char* file, int line, const char* prefix, const char* why, const char* format, va_list args) {
    OutputLock lock;
    std::printf("%s:%d: %s", baseName(file), line, prefix);
    if (why)
        std::printf(" (%s)", why);
    std::printf(": ");
    std::vprintf(format, args);
    std::size_t n = std::strlen(format);
    if (n == 0 || format[n - 1] != '\n')
        std::printf("\n");
    std::fflush(stdout);
}

} // namespace

Registration::Registration(const char* name, TestFunction function) {
    registry().push_back(Test{name, function});
}

TodoScope::TodoScope(bool active, const char* why) : active_(active), why_(why), outer_(tCurrentTodo) {
    tCurrentTodo = this;
    if (active_ && !tActiveWhy)
        tActiveWhy = why_;
}

TodoScope::~TodoScope() {
    tCurrentTodo = outer_;
    // The reason shown is the outermost active block's; recompute it.
    tActiveWhy = nullptr;
    for (const TodoScope* s = tCurrentTodo; s; s = s->outer_)
        if (s->active_)
            tActiveWhy = s->why_;
}

bool check_at(const char* file, int line, bool condition, const char* format, ...) {
    const char* why = tActiveWhy;
    if (!why) {
        if (condition) {
            ++gPassed;
            return true;
        }
        ++gFailed;
        va_list args;
        va_start(args, format);
        print(file, line, "Test failed", nullptr, format, args);
        va_end(args);
        return false;
    }
    va_list args;
    va_start(args, format);
    if (condition) {
        // The difference is gone: the mark must go too.
        ++gFailed;
        print(file, line, "Test succeeded inside todo block", why, format, args);
    } else {
        ++gKnown;
        print(file, line, "Known difference", why, format, args);
    }
    va_end(args);
    return condition;
}

void trace_at(const char* file, int line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    print(file, line, "trace", nullptr, format, args);
    va_end(args);
}

bool on_sim() {
    return std::strcmp(platform_name(), "sim") == 0;
}
bool on_wine() {
    return std::strcmp(platform_name(), "wine") == 0;
}
bool on_windows() {
    return std::strcmp(platform_name(), "windows") == 0;
}

void run(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // Static initialisation runs files in a different order on each
    // toolchain; run by name so every platform prints the same sequence.
    auto& tests = registry();
    std::sort(tests.begin(), tests.end(), [](const Test& a, const Test& b) { return std::strcmp(a.name, b.name) < 0; });
    if (argc > 1 && std::strcmp(argv[1], "--list") == 0) {
        for (const Test& t : tests)
            std::printf("%s\n", t.name);
        return;
    }
    std::vector<const Test*> selected;
    if (argc <= 1) {
        for (const Test& t : tests)
            selected.push_back(&t);
    } else {
        for (int i = 1; i < argc; ++i) {
            const Test* found = nullptr;
            for (const Test& t : tests)
                if (std::strcmp(t.name, argv[i]) == 0)
                    found = &t;
            if (!found) {
                ++gFailed;
                std::printf("%s: no such test\n", argv[i]);
                continue;
            }
            selected.push_back(found);
        }
    }
    for (const Test* t : selected) {
        unsigned passed = gPassed, failed = gFailed, known = gKnown;
        t->function();
        unsigned executed = (gPassed - passed) + (gFailed - failed) + (gKnown - known);
        OutputLock lock;
        std::printf("%s: %u tests executed (%u marked as todo, %u failures)\n", t->name, executed, gKnown - known,
                    gFailed - failed);
    }
}

int finish() {
    unsigned passed = gPassed, failed = gFailed, known = gKnown;
    OutputLock lock;
    if (known)
        std::printf("%u passed, %u failed, %u known\n", passed, failed, known);
    else
        std::printf("%u passed, %u failed\n", passed, failed);
    std::fflush(stdout);
    return failed ? 1 : 0;
}

} // namespace conformance
