#include "cm/Objects/Modules.h"

#include "cm/Objects/Errors.h"

namespace cm {

TModuleRunner::TModuleRunner(std::span<const TModuleEntry> modules, void (*initialized)(const TModuleEntry&) noexcept)
    : FModules(modules) {
    for (const TModuleEntry& module : FModules) {
        try {
            if (module.Initialize)
                module.Initialize();
        } catch (...) {
            Finalize();
            ReraiseWithContextFmt("Failed to initialize module %s", {module.Name});
        }
        ++FInitialized;
        if (initialized)
            initialized(module);
    }
}

TModuleRunner::~TModuleRunner() {
    Finalize();
}

void TModuleRunner::Finalize() noexcept {
    while (FInitialized > 0) {
        const TModuleEntry& module = FModules[--FInitialized];
        if (module.Finalize)
            module.Finalize();
    }
}

}  // namespace cm
