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

#include <cwchar>

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadCommandLine = 2;

// The definition is a page of XML; anything far larger is not ours. Fixed
// buffers, no C++ library: the program travels in every package.
constexpr DWORD kMaxDefinitionBytes = 64 * 1024;
constexpr DWORD kMaxChars = kMaxDefinitionBytes / sizeof(wchar_t);
constexpr wchar_t kByteOrderMark = 0xFEFF;
constexpr wchar_t kCommandOpen[] = L"<Command>";
constexpr wchar_t kCommandClose[] = L"</Command>";

wchar_t g_definition[kMaxChars + 1];
wchar_t g_rewritten[2 * kMaxChars + 1];

// A drive path (C:\...) or a UNC path (\\server\...): the task engine must
// not search for the program.
bool is_full_path(const wchar_t* path) {
    const bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    const bool drive = letter && path[1] == L':' && path[2] == L'\\' && path[3] != L'\0';
    const bool unc = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\0';
    return drive || unc;
}

// Appends text to out (of capacity chars, counting the terminator) at *used.
bool append(wchar_t* out, DWORD capacity, DWORD* used, const wchar_t* text, DWORD length) {
    if (length >= capacity - *used)
        return false;
    std::wmemcpy(out + *used, text, length);
    *used += length;
    out[*used] = L'\0';
    return true;
}

// Element text: the three characters XML gives a meaning there escaped.
bool append_xml_text(wchar_t* out, DWORD capacity, DWORD* used, const wchar_t* text) {
    for (; *text; ++text) {
        const wchar_t* escaped = *text == L'&' ? L"&amp;" : *text == L'<' ? L"&lt;" : *text == L'>' ? L"&gt;" : nullptr;
        if (!(escaped ? append(out, capacity, used, escaped, static_cast<DWORD>(std::wcslen(escaped)))
                      : append(out, capacity, used, text, 1)))
            return false;
    }
    return true;
}

// The definition, UTF-16 with its byte order mark, into g_definition.
bool read_all(HANDLE file, DWORD* chars) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 2 || size.QuadPart > kMaxDefinitionBytes || size.QuadPart % 2 != 0)
        return false;
    const DWORD bytes = static_cast<DWORD>(size.QuadPart);
    DWORD read = 0;
    if (!ReadFile(file, g_definition, bytes, &read, nullptr) || read != bytes || g_definition[0] != kByteOrderMark)
        return false;
    *chars = bytes / sizeof(wchar_t);
    g_definition[*chars] = L'\0';
    // Text that ends early would hide the rest from the search below.
    return std::wcslen(g_definition) == *chars;
}

// Exactly one command in the definition, whose text becomes "PROGRAM",
// into g_rewritten.
bool set_command(const wchar_t* program, DWORD* chars) {
    const wchar_t* open = std::wcsstr(g_definition, kCommandOpen);
    if (!open)
        return false;
    const wchar_t* text = open + std::wcslen(kCommandOpen);
    const wchar_t* close = std::wcsstr(text, kCommandClose);
    if (!close || std::wcsstr(close, kCommandOpen))
        return false;
    DWORD used = 0;
    const DWORD capacity = sizeof g_rewritten / sizeof g_rewritten[0];
    const bool made = append(g_rewritten, capacity, &used, g_definition, static_cast<DWORD>(text - g_definition)) &&
                      append(g_rewritten, capacity, &used, L"\"", 1) &&
                      append_xml_text(g_rewritten, capacity, &used, program) &&
                      append(g_rewritten, capacity, &used, L"\"", 1) &&
                      append(g_rewritten, capacity, &used, close, static_cast<DWORD>(std::wcslen(close)));
    *chars = used;
    return made;
}

// The whole text again from the start, through the handle that read it.
bool write_all(HANDLE file, DWORD chars) {
    const DWORD bytes = chars * sizeof(wchar_t);
    DWORD written = 0;
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteFile(file, g_rewritten, bytes, &written, nullptr) &&
           written == bytes && SetEndOfFile(file) && FlushFileBuffers(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return kBadCommandLine;
    const wchar_t* program = argv[2];
    // The task engine expands %NAME% in a command: a path that holds a
    // percent sign would name a variable again.
    if (!is_full_path(program) || std::wcschr(program, L'%') || std::wcschr(program, L'"'))
        return kBadCommandLine;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return kFailed;
    DWORD chars = 0;
    const bool done = read_all(file, &chars) && set_command(program, &chars) && write_all(file, chars);
    CloseHandle(file);
    return done ? kDone : kFailed;
}
