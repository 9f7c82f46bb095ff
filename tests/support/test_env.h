// setenv and unsetenv where the C runtime has only _putenv_s (Windows).
#pragma once

#include <cstdlib>

#ifdef _WIN32
inline int setenv(const char *name, const char *value, int overwrite)
{
    if (!overwrite && std::getenv(name) != nullptr)
        return 0;
    return _putenv_s(name, value);
}
inline int unsetenv(const char *name)
{
    return _putenv_s(name, "");
}
#endif
