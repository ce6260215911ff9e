#include "platform/sim/programs.h"

#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace sim {

namespace {
struct RunContext {
    Kernel* kernel;
    DWORD process;
    Program program;
    ProgramRun run;
};

DWORD WINAPI programMain(LPVOID arg) {
    std::unique_ptr<RunContext> ctx(static_cast<RunContext*>(arg));
    // Its creator's integrity level, as a child process has.
    ctx->kernel->beginProcess(std::nullopt, ctx->process);
    return ctx->program(ctx->run);
}

// The command line's first word: in double quotes, or up to the first blank.
std::string firstWord(const std::string& line) {
    if (!line.empty() && line[0] == '"') {
        auto end = line.find('"', 1);
        return line.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    return line.substr(0, line.find_first_of(" \t"));
}
} // namespace

std::string Programs::folded(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

std::string Programs::arguments(const std::string& commandLine) {
    std::size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == '"') {
        at = commandLine.find('"', 1);
        at = at == std::string::npos ? commandLine.size() : at + 1;
    } else {
        at = std::min(commandLine.find_first_of(" \t"), commandLine.size());
    }
    at = std::min(commandLine.find_first_not_of(" \t", at), commandLine.size());
    return commandLine.substr(at);
}

void Programs::install(const std::string& file, Program program) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    programs_[folded(file)] = std::move(program);
}

void Programs::uninstall(const std::string& file) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    programs_.erase(folded(file));
}

bool Programs::installed(const std::string& file) const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return programs_.count(folded(file)) != 0;
}

std::vector<ProgramRun> Programs::runs() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return runs_.entries();
}

void Programs::keepRuns(std::size_t n) {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    runs_.keepLatest(n);
}

std::uint64_t Programs::runCount() const {
    std::lock_guard<std::mutex> lock(kernel_.lock());
    return runs_.count();
}

BOOL Programs::createProcess(LPCSTR application, LPSTR commandLine, BOOL inheritHandles, DWORD creationFlags,
                             LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information) {
    if (!startup || !information || (!application && !commandLine)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto ctx = std::make_unique<RunContext>();
    ctx->kernel = &kernel_;
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        ProgramRun& run = ctx->run;
        run.application = application ? application : "";
        run.commandLine = commandLine ? commandLine : run.application;
        run.file = application ? run.application : firstWord(run.commandLine);
        auto it = programs_.find(folded(run.file));
        if (it == programs_.end()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        ctx->program = it->second;
        run.parameters = arguments(run.commandLine);
        run.directory = directory ? directory : "";
        run.show = (startup->dwFlags & STARTF_USESHOWWINDOW) ? startup->wShowWindow : SW_SHOWDEFAULT;
        run.creationFlags = creationFlags;
        run.inheritHandles = inheritHandles != FALSE;
        run.started = kernel_.nowLocked();
        runs_.push_back(run);
        ctx->process = kernel_.reserveProcessIdLocked();
    }
    DWORD process = ctx->process;
    bool keep = !givesNoProcessHandle_;
    auto object = std::make_shared<ProcessObject>();
    std::string name = "process " + ctx->run.file.substr(ctx->run.file.find_last_of('\\') + 1);
    HANDLE h = kernel_.startThread(programMain, ctx.release(), object, "process", keep, name);
    std::lock_guard<std::mutex> lock(kernel_.lock());
    information->hProcess = keep ? h : nullptr;
    information->hThread = kernel_.addHandle(object, "thread", HandleSpace::Kernel);
    information->dwProcessId = process;
    information->dwThreadId = object->id;
    return TRUE;
}

} // namespace sim
