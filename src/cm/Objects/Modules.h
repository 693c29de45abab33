// The program's module start-up and shut-down: one ordered list of initialise/finalise pairs,
// run by the program's entry in list order and finalised in reverse. Class numbers of the packet
// registry, among other things, depend on that order, which static constructors would leave open.
// Portable.
#pragma once

#include <cstddef>
#include <span>

namespace cm {

struct TModuleEntry {
    const char* Name;
    void (*Initialize)();  // may be nullptr
    void (*Finalize)();    // may be nullptr; must not raise
};

class TModuleRunner {
public:
    // Initialises every module in order, calling initialized (when given) after each one. When one
    // raises, the modules already initialised are finalised in reverse and the failure is raised
    // again with "Failed to initialize module %s" in front.
    explicit TModuleRunner(std::span<const TModuleEntry> modules,
                           void (*initialized)(const TModuleEntry&) noexcept = nullptr);
    // Finalize().
    ~TModuleRunner();
    TModuleRunner(const TModuleRunner&) = delete;
    TModuleRunner& operator=(const TModuleRunner&) = delete;

    // Finalises the initialised modules in reverse order, once.
    void Finalize() noexcept;

private:
    std::span<const TModuleEntry> FModules;
    size_t FInitialized = 0;
};

}  // namespace cm
