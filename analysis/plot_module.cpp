#include "plot_module.h"

#include <dlfcn.h>

#include <climits>
#include <unistd.h>
#include <vector>

namespace cli {

namespace {

// The folder of the running program, from the kernel's own record of it.
std::string programFolder()
{
    std::vector<char> path(PATH_MAX + 1);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        return {};
    const std::string program(path.data(), size_t(length));
    const size_t slash = program.rfind('/');
    return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

}  // namespace

const PlotModule* loadPlotModule(std::string& problem)
{
    const std::string folder = programFolder();
    if (folder.empty()) {
        problem = "the folder of the sounder program is unknown";
        return nullptr;
    }
    problem.clear();
    for (const std::string& candidate : {folder + "/" + PlotModuleFile, folder + "/../lib/sounder/" + PlotModuleFile}) {
        if (::access(candidate.c_str(), F_OK) != 0)
            continue;
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* error = ::dlerror();
            problem = error ? error : candidate + " does not load";
            continue;
        }
        using Entry = const PlotModule* (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(handle, PlotModuleEntry));
        const PlotModule* module = entry ? entry() : nullptr;
        if (module && module->version == PlotModuleVersion && module->makeApplication && module->drawPng)
            return module;  // stays loaded for the rest of the run
        problem = candidate + " is not the plot module of this sounder";
        ::dlclose(handle);
    }
    if (problem.empty())
        problem = std::string(PlotModuleFile) + " is neither beside the sounder program nor in ../lib/sounder";
    return nullptr;
}

}  // namespace cli
