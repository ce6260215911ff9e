// Registry change notifications: what fires them, that each fires once, and
// what becomes of one still pending when its key handle or its thread goes.
//
// The keys live under HKLM\Software\CardwellConformance\Notify. Every value
// written is new data: Wine does not report a write that changes nothing.
#include "platform/win32.h"

#include "harness.h"

#include <initializer_list>

namespace {

const char kRoot[] = "Software\\CardwellConformance";
const DWORD kPatience = 5000;

unsigned u(DWORD v) {
    return static_cast<unsigned>(v);
}
unsigned u(LONG v) {
    return static_cast<unsigned>(v);
}

DWORD gNextData = 1;

LONG writeValue(HKEY key, const char* name) {
    DWORD data = gNextData++;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

DWORD poll(HANDLE h) {
    return WaitForSingleObject(h, 0);
}

// The watched key, made fresh, with one child; `root` stays open for the test.
struct Watched {
    HKEY root = NULL;
    HKEY writer = NULL; // KEY_ALL_ACCESS on Notify, for making the changes
    HKEY child = NULL;  // KEY_ALL_ACCESS on Notify\Child

    bool make() {
        LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRoot, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &root, NULL);
        ok(r == ERROR_SUCCESS, "cannot create HKLM\\%s: %u\n", kRoot, u(r));
        if (r != ERROR_SUCCESS)
            return false;
        clear();
        r = RegCreateKeyExA(root, "Notify", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &writer, NULL);
        ok(r == ERROR_SUCCESS, "RegCreateKeyExA(Notify): %u\n", u(r));
        r = RegCreateKeyExA(root, "Notify\\Child", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &child, NULL);
        ok(r == ERROR_SUCCESS, "RegCreateKeyExA(Notify\\Child): %u\n", u(r));
        return writer && child;
    }

    // A new handle on the watched key, with the rights asked.
    HKEY open(REGSAM access) {
        HKEY key = NULL;
        LONG r = RegOpenKeyExA(root, "Notify", 0, access, &key);
        ok(r == ERROR_SUCCESS, "RegOpenKeyExA(Notify, %#x): %u\n", u(access), u(r));
        return key;
    }

    void clear() {
        for (const char* path : {"Notify\\Child\\New", "Notify\\Child", "Notify\\New", "Notify\\Gone", "Notify"})
            RegDeleteKeyA(root, path);
    }

    ~Watched() {
        if (child)
            RegCloseKey(child);
        if (writer)
            RegCloseKey(writer);
        if (root) {
            clear();
            RegCloseKey(root);
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRoot);
        }
    }
};

} // namespace

CONFORMANCE_TEST(notify_fires_once_per_arming) {
    Watched w;
    if (!w.make())
        return;
    HKEY key = w.open(KEY_NOTIFY);
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);

    LONG r = RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_SUCCESS, "RegNotifyChangeKeyValue: %u\n", u(r));
    ok(poll(event) == WAIT_TIMEOUT, "signalled before any change\n");

    writeValue(w.writer, "First");
    ok(poll(event) == WAIT_OBJECT_0, "a value set did not signal the event\n");

    // Fired once: a second change without a new request leaves it quiet.
    ResetEvent(event);
    writeValue(w.writer, "Second");
    ok(poll(event) == WAIT_TIMEOUT, "a second change fired the same request again\n");

    // Asked again, it fires again.
    r = RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_SUCCESS, "RegNotifyChangeKeyValue again: %u\n", u(r));
    ok(poll(event) == WAIT_TIMEOUT, "signalled by the re-arming itself\n");
    writeValue(w.writer, "Third");
    ok(poll(event) == WAIT_OBJECT_0, "the renewed request did not fire\n");

    RegCloseKey(key);
    CloseHandle(event);
}

CONFORMANCE_TEST(notify_filter_and_subtree) {
    Watched w;
    if (!w.make())
        return;
    enum Change { SetValue, SetChildValue, DeleteValue, CreateSubkey, CreateGrandchild, DeleteSubkey };
    static const char* const changeNames[] = {"set a value",     "set a value in a subkey", "delete a value",
                                              "create a subkey", "create a sub-subkey",     "delete a subkey"};
    struct Row {
        BOOL subtree;
        DWORD filter;
        Change change;
        bool fires;
    };
    const DWORD kName = REG_NOTIFY_CHANGE_NAME;
    const DWORD kLastSet = REG_NOTIFY_CHANGE_LAST_SET;
    const Row rows[] = {
        {FALSE, kLastSet, SetValue, true},
        {FALSE, kLastSet, DeleteValue, true},
        {FALSE, kLastSet, SetChildValue, false},
        {TRUE, kLastSet, SetChildValue, true},
        {FALSE, kLastSet, CreateSubkey, false},
        {FALSE, kName, SetValue, false},
        {TRUE, kName, SetChildValue, false},
        {FALSE, kName, CreateSubkey, true},
        {FALSE, kName, DeleteSubkey, true},
        {FALSE, kName, CreateGrandchild, false},
        {TRUE, kName, CreateGrandchild, true},
        {FALSE, kName | kLastSet, SetValue, true},
        {TRUE, REG_LEGAL_CHANGE_FILTER, SetChildValue, true},
    };
    for (const Row& row : rows) {
        // Set up what the change needs before watching.
        if (row.change == DeleteValue)
            writeValue(w.writer, "Doomed");
        if (row.change == DeleteSubkey) {
            HKEY gone = NULL;
            RegCreateKeyExA(w.writer, "Gone", 0, NULL, 0, KEY_READ, NULL, &gone, NULL);
            RegCloseKey(gone);
        }
        // A fresh handle and event for each: a request made again on the same
        // handle with other arguments is ignored by Windows.
        HKEY key = w.open(KEY_NOTIFY);
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
        LONG r = RegNotifyChangeKeyValue(key, row.subtree, row.filter, event, TRUE);
        ok(r == ERROR_SUCCESS, "RegNotifyChangeKeyValue: %u\n", u(r));

        HKEY made = NULL;
        switch (row.change) {
        case SetValue:
            r = writeValue(w.writer, "Value");
            break;
        case SetChildValue:
            r = writeValue(w.child, "Value");
            break;
        case DeleteValue:
            r = RegDeleteValueA(w.writer, "Doomed");
            break;
        case CreateSubkey:
            r = RegCreateKeyExA(w.writer, "New", 0, NULL, 0, KEY_READ, NULL, &made, NULL);
            break;
        case CreateGrandchild:
            r = RegCreateKeyExA(w.child, "New", 0, NULL, 0, KEY_READ, NULL, &made, NULL);
            break;
        case DeleteSubkey:
            r = RegDeleteKeyA(w.writer, "Gone");
            break;
        }
        ok(r == ERROR_SUCCESS, "%s: the change itself failed: %u\n", changeNames[row.change], u(r));
        DWORD got = poll(event);
        ok(got == (row.fires ? WAIT_OBJECT_0 : WAIT_TIMEOUT), "subtree %d, filter %#x, %s: %s\n", row.subtree,
           u(row.filter), changeNames[row.change], row.fires ? "did not fire" : "fired");

        RegCloseKey(key);
        CloseHandle(event);
        if (made) {
            RegCloseKey(made);
            RegDeleteKeyA(row.change == CreateSubkey ? w.writer : w.child, "New");
        }
    }
}

CONFORMANCE_TEST(notify_write_of_same_data) {
    Watched w;
    if (!w.make())
        return;
    DWORD data = 0x5a5a5a5a;
    RegSetValueExA(w.writer, "Same", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
    HKEY key = w.open(KEY_NOTIFY);
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    // The registry skips a write that changes nothing, and reports nothing.
    RegSetValueExA(w.writer, "Same", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
    ok(poll(event) == WAIT_TIMEOUT, "rewriting a value with its own data fired the request\n");
    RegCloseKey(key);
    CloseHandle(event);
}

CONFORMANCE_TEST(notify_second_request_on_same_handle) {
    Watched w;
    if (!w.make())
        return;
    HKEY key = w.open(KEY_NOTIFY);
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    LONG r = RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_SUCCESS, "first request: %u\n", u(r));
    // Windows documents that asking again on the same handle with other
    // arguments succeeds but changes nothing: the subkey stays unwatched.
    r = RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_SUCCESS, "second request: %u\n", u(r));
    writeValue(w.child, "Value");
    ok(poll(event) == WAIT_TIMEOUT, "the second request's subtree took effect\n");
    ResetEvent(event);
    writeValue(w.writer, "Value");
    ok(poll(event) == WAIT_OBJECT_0, "the first request did not fire\n");
    RegCloseKey(key);
    CloseHandle(event);
}

CONFORMANCE_TEST(notify_watched_key_deleted) {
    Watched w;
    if (!w.make())
        return;
    HKEY gone = NULL;
    LONG r = RegCreateKeyExA(w.writer, "Gone", 0, NULL, 0, KEY_NOTIFY, NULL, &gone, NULL);
    ok(r == ERROR_SUCCESS, "RegCreateKeyExA(Gone): %u\n", u(r));
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    r = RegNotifyChangeKeyValue(gone, TRUE, REG_LEGAL_CHANGE_FILTER, event, TRUE);
    ok(r == ERROR_SUCCESS, "RegNotifyChangeKeyValue: %u\n", u(r));
    // What Wine does, standing in for Windows here: the deletion is reported
    // to watchers of the parent, not to a request on the deleted key, which
    // stays pending until its handle is closed.
    r = RegDeleteKeyA(w.writer, "Gone");
    ok(r == ERROR_SUCCESS, "RegDeleteKeyA(Gone): %u\n", u(r));
    ok(poll(event) == WAIT_TIMEOUT, "deleting the watched key fired its request\n");
    RegCloseKey(gone);
    ok(poll(event) == WAIT_OBJECT_0, "closing the deleted key's handle left its request pending\n");
    CloseHandle(event);
}

CONFORMANCE_TEST(notify_request_resets_the_event) {
    Watched w;
    if (!w.make())
        return;
    HKEY key = w.open(KEY_NOTIFY);
    HANDLE event = CreateEventA(NULL, TRUE, TRUE, NULL);
    LONG r = RegNotifyChangeKeyValue(key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_SUCCESS, "RegNotifyChangeKeyValue: %u\n", u(r));
    ok(poll(event) == WAIT_TIMEOUT, "an event set before the request is still set after it\n");
    ResetEvent(event);
    writeValue(w.writer, "Value");
    ok(poll(event) == WAIT_OBJECT_0, "the change did not fire\n");
    RegCloseKey(key);
    CloseHandle(event);
}

CONFORMANCE_TEST(notify_pending_when_key_closed) {
    Watched w;
    if (!w.make())
        return;
    HKEY key = w.open(KEY_NOTIFY);
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    LONG r = RegNotifyChangeKeyValue(key, TRUE, REG_LEGAL_CHANGE_FILTER, event, TRUE);
    ok(r == ERROR_SUCCESS, "RegNotifyChangeKeyValue: %u\n", u(r));
    ok(poll(event) == WAIT_TIMEOUT, "signalled before any change\n");
    // Windows documents that closing the key signals the event: a waiter must
    // not take the signal as proof of a change, nor the key as still open.
    ok(RegCloseKey(key) == ERROR_SUCCESS, "RegCloseKey failed\n");
    ok(poll(event) == WAIT_OBJECT_0, "closing the key left its pending request's event unsignalled\n");

    // And the request is gone with the handle: later changes do not fire it.
    ResetEvent(event);
    writeValue(w.writer, "Value");
    ok(poll(event) == WAIT_TIMEOUT, "a request outlived its key handle\n");
    CloseHandle(event);
}

namespace {
struct Request {
    HKEY key;
    HANDLE event;
    LONG result;
};

DWORD WINAPI requestAndExit(LPVOID arg) {
    auto* q = static_cast<Request*>(arg);
    q->result = RegNotifyChangeKeyValue(q->key, TRUE, REG_NOTIFY_CHANGE_LAST_SET, q->event, TRUE);
    return 0;
}

DWORD WINAPI waitForChange(LPVOID arg) {
    auto* q = static_cast<Request*>(arg);
    q->result = RegNotifyChangeKeyValue(q->key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, NULL, FALSE);
    return 0;
}
} // namespace

CONFORMANCE_TEST(notify_pending_when_its_thread_exits) {
    Watched w;
    if (!w.make())
        return;
    Request q = {w.open(KEY_NOTIFY), CreateEventA(NULL, TRUE, FALSE, NULL), -1};
    HANDLE t = CreateThread(NULL, 0, requestAndExit, &q, 0, NULL);
    ok(WaitForSingleObject(t, kPatience) == WAIT_OBJECT_0, "the requesting thread did not end\n");
    ok(q.result == ERROR_SUCCESS, "RegNotifyChangeKeyValue on the thread: %u\n", u(q.result));
    // Windows ties a request to the thread that made it (unless it asks
    // otherwise) and signals the event when that thread exits.
    todo_on(!on_windows(), "the request outlives its thread, as if made thread-agnostic") {
        ok(poll(q.event) == WAIT_OBJECT_0, "the requesting thread's exit left the event unsignalled\n");
    }
    CloseHandle(t);
    RegCloseKey(q.key);
    CloseHandle(q.event);
}

CONFORMANCE_TEST(notify_synchronous_request_blocks_until_change) {
    Watched w;
    if (!w.make())
        return;
    Request q = {w.open(KEY_NOTIFY), NULL, -1};
    HANDLE t = CreateThread(NULL, 0, waitForChange, &q, 0, NULL);
    ok(WaitForSingleObject(t, 50) == WAIT_TIMEOUT, "a synchronous request returned with nothing changed\n");
    writeValue(w.writer, "Value");
    ok(WaitForSingleObject(t, kPatience) == WAIT_OBJECT_0, "a synchronous request did not return on the change\n");
    ok(q.result == ERROR_SUCCESS, "the synchronous request answered %u\n", u(q.result));
    CloseHandle(t);
    RegCloseKey(q.key);
}

CONFORMANCE_TEST(notify_argument_errors) {
    Watched w;
    if (!w.make())
        return;
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    HKEY noNotify = w.open(KEY_QUERY_VALUE | KEY_SET_VALUE);
    LONG r = RegNotifyChangeKeyValue(noNotify, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_ACCESS_DENIED, "request on a handle without KEY_NOTIFY answered %u\n", u(r));
    RegCloseKey(noNotify);

    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x0dead000u));
    r = RegNotifyChangeKeyValue(bogus, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_INVALID_HANDLE, "request on a bogus key answered %u\n", u(r));
    r = RegNotifyChangeKeyValue(NULL, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE);
    ok(r == ERROR_INVALID_HANDLE, "request on a NULL key answered %u\n", u(r));

    // Nothing was armed by the failures.
    writeValue(w.writer, "Value");
    ok(poll(event) == WAIT_TIMEOUT, "a failed request fired\n");
    CloseHandle(event);
}
