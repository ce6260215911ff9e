#include "cardlib/state.h"

namespace ferrocard {

namespace {

LibraryState atLoad() {
    LibraryState s = {};
    s.controller = INVALID_HANDLE_VALUE;
    s.writeProtected = 1;
    return s;
}

LibraryState gState = atLoad();

} // namespace

LibraryState& library() {
    return gState;
}

void resetLibraryState() {
    gState = atLoad();
}

} // namespace ferrocard
