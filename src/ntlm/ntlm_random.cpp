// The NTLMv2 client challenge comes from the operating system's random source
// (a fuzzing build fixes it: see ntlm_internal.h).
#include <cstring>

#include "ntlm/ntlm.h"
#include "ntlm/ntlm_internal.h"

#if defined(_WIN32)
#include <windows.h>
#include <bcrypt.h>
#if defined(_MSC_VER)
#pragma comment(lib, "bcrypt.lib")
#endif
#elif defined(__linux__)
#include <cerrno>
#include <sys/random.h>
#else
#include <unistd.h>
#endif

int vnb_ntlm_client_challenge(uint8_t out[8])
{
    if (!out)
        return -1;
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
    std::memcpy(out, kFuzzClientChallenge, 8);
    return 0;
#elif defined(_WIN32)
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, 8, BCRYPT_USE_SYSTEM_PREFERRED_RNG)) ? 0 : -1;
#elif defined(__linux__)
    size_t got = 0;
    while (got < 8) {
        ssize_t n = getrandom(out + got, 8 - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        got += size_t(n);
    }
    return 0;
#else
    return getentropy(out, 8) == 0 ? 0 : -1;
#endif
}
