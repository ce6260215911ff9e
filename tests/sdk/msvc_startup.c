/* What Microsoft's C runtime does around main, as far as the sample needs:
 * the program's entry calls main and ends the process through exit, which
 * also flushes standard output. */
__declspec(noreturn) void __cdecl exit(int code);
int main(void);

void mainCRTStartup(void) {
    exit(main());
}
