/* What Microsoft's C runtime gives a DLL, in two objects of one library: the
 * entry, which calls DllMain, and a DllMain that does nothing, taken only by
 * a DLL that has none. The linker looks for DllMain in the libraries in the
 * order given, the runtime's last, as with the real one. Compiled once with
 * DLL_RUNTIME_ENTRY and once without. */
#define WINAPI __stdcall

#ifdef DLL_RUNTIME_ENTRY
int WINAPI DllMain(void* module, unsigned long reason, void* reserved);

int WINAPI _DllMainCRTStartup(void* module, unsigned long reason, void* reserved) {
    return DllMain(module, reason, reserved);
}
#else
int WINAPI DllMain(void* module, unsigned long reason, void* reserved) {
    (void)module;
    (void)reason;
    (void)reserved;
    return 1;
}
#endif
