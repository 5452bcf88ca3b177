#pragma once
// Error classes of the graphics library. Each carries the user-visible text and
// reports its class name, so tools can print "<class>: <message>".

#include <stdexcept>
#include <string>

namespace graphics {

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
    virtual const char* ClassName() const noexcept { return "Exception"; }
};

#define GRAPHICS_ERROR_CLASS(Name, Base)                                  \
    class Name : public Base {                                            \
    public:                                                               \
        explicit Name(const std::string& msg) : Base(msg) {}              \
        const char* ClassName() const noexcept override { return #Name; } \
    };

// Stream layer.
GRAPHICS_ERROR_CLASS(EStreamError, Exception)
GRAPHICS_ERROR_CLASS(EReadError, EStreamError)
GRAPHICS_ERROR_CLASS(EFOpenError, EStreamError)
// Graphics layer.
GRAPHICS_ERROR_CLASS(EInvalidGraphic, Exception)
GRAPHICS_ERROR_CLASS(EOutOfResources, Exception)
GRAPHICS_ERROR_CLASS(EGraphicCompression, Exception)
GRAPHICS_ERROR_CLASS(EColorConversionError, Exception)
GRAPHICS_ERROR_CLASS(EIntOverflow, Exception)

#undef GRAPHICS_ERROR_CLASS

inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SIntOverflow = "Integer overflow";
inline constexpr const char* SOutOfResources = "Out of system resources";

}  // namespace graphics
