#include "hostkit/host_services.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "hostkit/bitmap_operations.h"

namespace {

// A registered definition: the copy addFilter hands back, followed by
// whatever a newer module's longer definition carried.
struct Registration {
    std::unique_ptr<unsigned char[]> bytes;
    FilterDefinition* definition() { return reinterpret_cast<FilterDefinition*>(bytes.get()); }
};

std::vector<Registration>& Registry() {
    static std::vector<Registration> registry;
    return registry;
}

bool g_refuseRegistration = false;

FilterDefinition* HOST_CDECL AddFilter(FilterModule* module, FilterDefinition* definition,
                                       int length) {
    if (g_refuseRegistration || definition == nullptr || length <= 0) {
        return nullptr;
    }
    // A shorter definition (an older module) leaves the fields it lacks null.
    const std::size_t size = std::max<std::size_t>(static_cast<std::size_t>(length),
                                                   sizeof(FilterDefinition));
    Registration registration{std::unique_ptr<unsigned char[]>(new unsigned char[size]())};
    std::memcpy(registration.bytes.get(), definition, static_cast<std::size_t>(length));
    FilterDefinition* copy = registration.definition();
    copy->module = module;
    copy->next = nullptr;
    copy->prev = nullptr;
    Registry().push_back(std::move(registration));
    return copy;
}

void HOST_CDECL RemoveFilter(FilterDefinition* definition) {
    auto& registry = Registry();
    registry.erase(std::remove_if(registry.begin(), registry.end(),
                                  [definition](Registration& entry) {
                                      return entry.definition() == definition;
                                  }),
                   registry.end());
}

// Every processor this host runs on has a floating-point unit.
bool HOST_CDECL IsFPUEnabled() { return true; }

long HOST_CDECL GetCPUFlags() {
    long flags = kCpuFlagFpu;
#if defined(__i386__) || defined(__x86_64__)
    __builtin_cpu_init();
    flags |= kCpuFlagCpuid;
    if (__builtin_cpu_supports("mmx")) flags |= kCpuFlagMmx;
    if (__builtin_cpu_supports("sse")) flags |= kCpuFlagSse | kCpuFlagIntegerSse;
    if (__builtin_cpu_supports("sse2")) flags |= kCpuFlagSse2;
#endif
    return flags;
}

bool HOST_CDECL IsMMXEnabled() { return (GetCPUFlags() & kCpuFlagMmx) != 0; }

void HOST_CDECL InitVTables(FilterVTbls* tables) {
    if (tables != nullptr) {
        tables->pvtblVBitmap = &HostBitmapOperations();
    }
}

[[noreturn]] void HOST_CDECL ExceptOutOfMemory() { throw std::bad_alloc(); }

[[noreturn]] void HOST_CDECL Except(const char* format, ...) {
    if (format == nullptr) {
        throw HostException("the filter reported an error without a message");
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string message(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        std::vsnprintf(&message[0], message.size() + 1, format, arguments);
    }
    va_end(arguments);
    throw HostException(message);
}

long HOST_CDECL GetHostVersionInfo(char* buffer, int length) {
    if (buffer != nullptr && length > 0) {
        std::snprintf(buffer, static_cast<std::size_t>(length), "%s", kHostVersionText);
    }
    return kHostVersionNumber;
}

const FilterFunctions kFunctions = {
    &AddFilter,     &RemoveFilter,      &IsFPUEnabled, &IsMMXEnabled,       &InitVTables,
    &ExceptOutOfMemory, &Except,        &GetCPUFlags,  &GetHostVersionInfo,
};

}  // namespace

const FilterFunctions& HostFilterFunctions() { return kFunctions; }

std::vector<FilterDefinition*> RegisteredFilters() {
    std::vector<FilterDefinition*> definitions;
    for (Registration& entry : Registry()) {
        definitions.push_back(entry.definition());
    }
    return definitions;
}

FilterDefinition* FindRegisteredFilter(const std::string& name) {
    for (Registration& entry : Registry()) {
        FilterDefinition* definition = entry.definition();
        if (definition->name != nullptr && name == definition->name) {
            return definition;
        }
    }
    return nullptr;
}

void RefuseFilterRegistration(bool refuse) { g_refuseRegistration = refuse; }
