#include "platform/apartment.h"

#include "platform/platform.h"

namespace {

thread_local bool joined = false;

}  // namespace

void JoinApartment() {
    if (!joined) joined = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void LeaveApartment() {
    if (joined) CoUninitialize();
    joined = false;
}
