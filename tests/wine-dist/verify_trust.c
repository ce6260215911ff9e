/* verify_trust CA.cer FILE...
 * Puts the certificate CA.cer into the machine's root store, then asks
 * WinVerifyTrust about each FILE the way Windows asks of a program it is to
 * start (Authenticode, no interface, no revocation check: the test CA has no
 * revocation list), and prints "FILE: 0xRESULT" (0 when it is trusted).
 * Exit code 0 when every question could be asked. */
#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <stdio.h>
#include <wintrust.h>

static int add_root(const wchar_t *path) {
    BYTE certificate[16384];
    DWORD size = 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BOOL read = ReadFile(file, certificate, sizeof certificate, &size, NULL);
    CloseHandle(file);
    if (!read || size == 0 || size == sizeof certificate)
        return 0;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store)
        return 0;
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, certificate, size,
                                                  CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    CertCloseStore(store, 0);
    return added;
}

static LONG verify(const wchar_t *path) {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {0};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {0};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    LONG result = WinVerifyTrust(NULL, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(NULL, &action, &data);
    return result;
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: verify_trust CA.cer FILE...\n");
        return 2;
    }
    if (!add_root(argv[1])) {
        fprintf(stderr, "verify_trust: cannot add the CA to the root store (error %lu)\n", GetLastError());
        return 1;
    }
    for (int i = 2; i < argc; i++)
        printf("%ls: 0x%08lX\n", argv[i], (unsigned long)verify(argv[i]));
    return 0;
}
