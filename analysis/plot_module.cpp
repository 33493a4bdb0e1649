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

// The module in the file at path, or null with problem saying why.
const PlotModule* loadFrom(const std::string& path, std::string& problem)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* error = ::dlerror();
        problem = error ? error : path + " does not load";
        return nullptr;
    }
    using Entry = const PlotModule* (*)();
    const auto entry = reinterpret_cast<Entry>(::dlsym(handle, PlotModuleEntry));
    const PlotModule* module = entry ? entry() : nullptr;
    if (module && module->version == PlotModuleVersion && module->makeApplication && module->drawPng &&
        module->drawCampaignPng && module->drawWaterfallPng && module->prepareWaterfall)
        return module;  // stays loaded for the rest of the run
    problem = path + " is not the plot module of this sounder";
    ::dlclose(handle);
    return nullptr;
}

}  // namespace

const PlotModule* loadPlotModule(std::string& problem)
{
    problem.clear();
    const std::string folder = programFolder();
    if (!folder.empty())
        for (const std::string& candidate :
             {folder + "/" + PlotModuleFile, folder + "/../lib/sounder/plot/" + PlotModuleFile}) {
            if (::access(candidate.c_str(), F_OK) != 0)
                continue;
            if (const PlotModule* module = loadFrom(candidate, problem))
                return module;
        }
    if (!problem.empty())
        return nullptr;  // found, but not loadable: that is the fault to report
    // Where the program's folder is unknown (no /proc) or holds no module: the
    // loader's own search, which includes the installed program's run path.
    if (const PlotModule* module = loadFrom(PlotModuleFile, problem))
        return module;
    problem = std::string(PlotModuleFile) + " is neither beside the sounder program nor in ../lib/sounder/plot";
    return nullptr;
}

}  // namespace cli
