#include "board_library_info.h"

#include "board_kind.h"
#include "cbw.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

namespace {

// A function of the library that holds cbDOut, looked up there only; nullptr when absent.
void* boardLibrarySymbol(const char* name)
{
    Dl_info where{};
    if (::dladdr(reinterpret_cast<void*>(&cbDOut), &where) == 0 || where.dli_fname == nullptr)
        return nullptr;
    void* handle = ::dlopen(where.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return nullptr;
    void* symbol = ::dlsym(handle, name);
    ::dlclose(handle);  // the library stays loaded: the program links it
    return symbol;
}

}  // namespace

std::string boardFailure()
{
    using FailureFn = const char* (*)();
    if (const auto failure = reinterpret_cast<FailureFn>(boardLibrarySymbol("cbwBoardFailure")))
        if (const char* text = failure())
            return text;
    return {};
}

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
