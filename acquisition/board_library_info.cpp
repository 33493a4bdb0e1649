#include "board_library_info.h"

#include "board_kind.h"
#include "cbw.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

BoardLibraryInfo loadedBoardLibrary()
{
    BoardLibraryInfo info;
    Dl_info where{};
    if (::dladdr(reinterpret_cast<void*>(&cbDOut), &where) == 0 || where.dli_fname == nullptr)
        return info;
    info.path = where.dli_fname;
    char resolved[PATH_MAX];
    if (::realpath(where.dli_fname, resolved) != nullptr)
        info.path = resolved;
    // The kind is optional: look it up in that library only, never elsewhere.
    if (void* handle = ::dlopen(where.dli_fname, RTLD_LAZY | RTLD_NOLOAD)) {
        using KindFn = const char* (*)();
        if (const auto kind = reinterpret_cast<KindFn>(::dlsym(handle, "cbwBoardKind")))
            if (const char* text = kind())
                info.kind = text;
        ::dlclose(handle);
    }
    return info;
}
