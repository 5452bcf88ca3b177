#include "resources/resources.h"

#include <vector>

namespace resources {
namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::optional<Bytes> FindResource(std::string_view name) {
    for (const detail::EmbeddedEntry* e = detail::kEntries; e->name; ++e) {
        if (SameName(e->name, name)) return Bytes(reinterpret_cast<const std::uint8_t*>(e->data), e->size);
    }
    return std::nullopt;
}

std::span<const std::string_view> ResourceNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> v;
        for (const detail::EmbeddedEntry* e = detail::kEntries; e->name; ++e) v.emplace_back(e->name);
        return v;
    }();
    return names;
}

}  // namespace resources
