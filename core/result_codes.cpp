#include "core/result_codes.h"

namespace tqbse {
namespace {

// Indexed by code + 20, from -20 up to 2.
constexpr std::string_view kTexts[] = {
    "Remote Message Error - Parameter type was not expected",                  // -20
    "Remote Message Error - The server side DLL could not be loaded!",         // -19
    "Remote Message Error - Internal Object Error!",                           // -18
    "Remote Message Error - Function not valid in Remote mode",                // -17
    "",                                                                        // -16
    "",                                                                        // -15
    "Remote Message Error - No Response recieved from server",                 // -14
    "Remote Message Error - Buffer supplied is too small",                     // -13
    "Remote Message Error - Server did not return an error code",              // -12
    "Remote Message Error - Server returned incorrect number of parameters",   // -11
    "Remote Message Error - Function return value recieved out of order",      // -10
    "Remote Message Error - Incorrect parameter count recieved",               // -9
    "Remote Message Error - API Function not found on Server",                 // -8
    "Remote Message Error - Unknown Transmission Error",                       // -7
    "Remote Message Error - Parameter Contents mismatch",                      // -6
    "Remote Message Error - Parameter Type mismatch",                          // -5
    "Remote Message Error - Array Length Mismatch",                            // -4
    "Remote Message Error - Cannot convert Parameter as expected",             // -3
    "Remote Message Error - Parameter Format incorrect",                       // -2
    "An Unknown Error has occurred!",                                          // -1
    "No Error",                                                                //  0
    "Remote Message Warning - Client library version is greater than Server version; not all functionality will be available", // 1
    "Remote Message Warning - Server Library version is greater than Client version; not all functionality will be available", // 2
};
static_assert(std::size(kTexts) == 23);

} // namespace

std::string_view errorText(int32_t code)
{
    if (code < -20 || code > 2)
        return {};
    return kTexts[code + 20];
}

} // namespace tqbse
