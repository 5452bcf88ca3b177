#include "export/core/registry.h"

#include <mutex>
#include <stdexcept>

namespace exports {

namespace {

// Filled once at start-up, before any run; read by every run after.
std::mutex registryMutex;

std::vector<DestinationType>& destinations() {
    static std::vector<DestinationType> types;
    return types;
}

std::vector<SourceType>& sources() {
    static std::vector<SourceType> types;
    return types;
}

template <class Type>
void add(std::vector<Type>& types, Type type) {
    std::lock_guard lock(registryMutex);
    for (Type& have : types)
        if (have.name == type.name) {
            have = std::move(type);
            return;
        }
    types.push_back(std::move(type));
}

}  // namespace

void registerDestination(DestinationType type) { add(destinations(), std::move(type)); }

void registerSource(SourceType type) { add(sources(), std::move(type)); }

const std::vector<DestinationType>& destinationTypes() { return destinations(); }

const SourceType& sourceFor(const ConnectionJob&) {
    if (sources().empty()) throw std::logic_error("nenhuma fonte de documentos registrada");
    return sources().front();
}

}  // namespace exports
