// Each function the simulated machine declares has exactly the SDK's type,
// calling convention included: the simulation cannot drift from Windows.
#include "platform/win32.h"

#include <type_traits>

#define WIN32_API(ret, name, params)                                                                 \
    static_assert(std::is_same<decltype(&::name), ret(WINAPI*) params>::value,                      \
                  #name " is declared differently by the SDK");
// The functions loaded at start too: the SDK's declaration is what their
// callers compile against.
#define WIN32_API_FROM(dll, ret, name, params) WIN32_API(ret, name, params)
// An intrinsic may come in several forms; one of them must have this type.
#define WIN32_INTRINSIC(ret, name, params)                                                           \
    static_assert(std::is_same<decltype(static_cast<ret(*) params>(&::name)), ret(*) params>::value, \
                  #name " is declared differently by the SDK");
// The platform's own: no SDK declares them.
#define PLATFORM_API(ret, name, params)
#include "platform/api.inc"
#undef PLATFORM_API
#undef WIN32_INTRINSIC
#undef WIN32_API_FROM
#undef WIN32_API
