// Each function the simulated machine declares has exactly the SDK's type,
// calling convention included: the simulation cannot drift from Windows.
#include "platform/win32.h"

#include <type_traits>

#define WIN32_API(ret, name, params)                                                                 \
    static_assert(std::is_same<decltype(&::name), ret(WINAPI*) params>::value,                      \
                  #name " is declared differently by the SDK");
// An intrinsic may come in several forms; one of them must have this type.
#define WIN32_INTRINSIC(ret, name, params)                                                           \
    static_assert(std::is_same<decltype(static_cast<ret(*) params>(&::name)), ret(*) params>::value, \
                  #name " is declared differently by the SDK");
#include "platform/api.inc"
#undef WIN32_INTRINSIC
#undef WIN32_API
