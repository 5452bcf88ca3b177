#pragma once
// Files compiled into the executable (images, cursor, caption strings), looked
// up by name. Names compare without regard to letter case, as resource names
// always have on the desktop ("acSHDI" and "ACSHDI" are the same resource).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace resources {

using Bytes = std::span<const std::uint8_t>;

// The bytes of the named resource, or nothing when there is no such resource.
std::optional<Bytes> FindResource(std::string_view name);

// Names of every embedded resource, in the order they were listed.
std::span<const std::string_view> ResourceNames();

namespace detail {
struct EmbeddedEntry {
    const char* name;
    const unsigned char* data;
    std::size_t size;
};
// Terminated by an entry whose name is null; defined by the generated source.
extern const EmbeddedEntry kEntries[];
}  // namespace detail

}  // namespace resources
