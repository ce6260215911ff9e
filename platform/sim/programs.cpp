#include "platform/sim/programs.h"

#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace sim {

namespace {
struct RunContext {
    Program program;
    ProgramRun run;
};

DWORD WINAPI programMain(LPVOID arg) {
    std::unique_ptr<RunContext> ctx(static_cast<RunContext*>(arg));
    return ctx->program(ctx->run);
}
} // namespace

std::string Programs::folded(const std::string& s) {
    std::string out = s;
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
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

BOOL Programs::shellExecuteEx(SHELLEXECUTEINFOA* info) {
    if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto ctx = std::make_unique<RunContext>();
    {
        std::lock_guard<std::mutex> lock(kernel_.lock());
        auto it = info->lpFile ? programs_.find(folded(info->lpFile)) : programs_.end();
        if (it == programs_.end()) {
            info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(SE_ERR_FNF));
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        ctx->program = it->second;
        ctx->run.file = info->lpFile;
        ctx->run.parameters = info->lpParameters ? info->lpParameters : "";
        ctx->run.verb = info->lpVerb ? info->lpVerb : "";
        ctx->run.directory = info->lpDirectory ? info->lpDirectory : "";
        ctx->run.show = info->nShow;
        ctx->run.mask = info->fMask;
        ctx->run.started = kernel_.nowLocked();
        runs_.push_back(ctx->run);
    }
    bool keep = (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0 && !givesNoProcessHandle_;
    auto process = std::make_shared<ProcessObject>();
    std::string name = "process " + ctx->run.file.substr(ctx->run.file.find_last_of('\\') + 1);
    HANDLE h = kernel_.startThread(programMain, ctx.release(), process, "process", keep, name);
    info->hProcess = keep ? h : nullptr;
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(42)); // above 32: success
    return TRUE;
}

} // namespace sim
