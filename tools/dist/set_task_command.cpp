// set-task-command DEFINITION PROGRAM
//
// The package's own step, run from its Binary table right after the files
// are copied (deferred, as the installer's system account): it writes
// PROGRAM, the full path of the Cardwell.exe just installed, quoted, as the
// one command of the logon task's definition at DEFINITION, which schtasks
// registers next. Windows Installer resolves that path at installation; the
// task then names the program itself. A definition that named it through a
// variable (%ProgramFiles%) would let anyone who can write the signed-in
// user's environment (HKCU\Environment, no elevation needed) choose what
// starts elevated at the next sign-in.
//
// Exit code 0 when the definition names PROGRAM, 1 when it could not be
// made to (the installation then fails and rolls back), 2 for a bad command
// line. Writing it again gives the same file, so a repair may run it over a
// definition it already wrote.
#include <windows.h>

#include <string>

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadCommandLine = 2;

// The definition is a page of XML; anything far larger is not ours.
constexpr LONGLONG kMaxDefinitionBytes = 64 * 1024;
constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr wchar_t kCommandOpen[] = L"<Command>";
constexpr wchar_t kCommandClose[] = L"</Command>";

// A drive path (C:\...) or a UNC path (\\server\...): the task engine must
// not search for the program.
bool is_full_path(const std::wstring& path) {
    const bool drive = path.size() > 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && path[2] == L'\\';
    const bool unc = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
    return drive || unc;
}

// Element text: the three characters XML gives a meaning there.
std::wstring xml_text(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

bool read_all(HANDLE file, std::wstring& text) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 2 || size.QuadPart > kMaxDefinitionBytes || size.QuadPart % 2 != 0)
        return false;
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    text.assign(bytes / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    return ReadFile(file, &text[0], bytes, &read, nullptr) && read == bytes && text[0] == kByteOrderMark;
}

// The whole text again from the start, through the handle that read it.
bool write_all(HANDLE file, const std::wstring& text) {
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteFile(file, text.data(), bytes, &written, nullptr) &&
           written == bytes && SetEndOfFile(file) && FlushFileBuffers(file);
}

// Exactly one command in the definition, whose text becomes "PROGRAM".
bool set_command(std::wstring& text, const std::wstring& program) {
    const std::wstring open = kCommandOpen, close = kCommandClose;
    std::size_t begin = text.find(open);
    if (begin == std::wstring::npos)
        return false;
    begin += open.size();
    const std::size_t end = text.find(close, begin);
    if (end == std::wstring::npos || text.find(open, end) != std::wstring::npos)
        return false;
    text.replace(begin, end - begin, L"\"" + xml_text(program) + L"\"");
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return kBadCommandLine;
    const std::wstring program = argv[2];
    // The task engine expands %NAME% in a command: a path that holds a
    // percent sign would name a variable again.
    if (!is_full_path(program) || program.find(L'%') != std::wstring::npos || program.find(L'"') != std::wstring::npos)
        return kBadCommandLine;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kFailed;
    std::wstring text;
    const bool done = read_all(file, text) && set_command(text, program) && write_all(file, text);
    CloseHandle(file);
    return done ? kDone : kFailed;
}
