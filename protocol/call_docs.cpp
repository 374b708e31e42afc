// Compile-time checks of the documentation beside the rows: a row or a
// parameter without a text, or a text for something that does not exist,
// stops the build here, naming the export.
#include "protocol/call_docs.h"

namespace tqbse {
namespace {

#define TQ_CHECK_CALL_DOC(kind, family, name, ...)                                                 \
    static_assert(callDocumented(calls::name),                                                    \
                  "protocol/rows/docs: " #name " or one of its parameters has no text, or its text names a " \
                  "parameter or code that does not exist");
TQ_ALL_CALLS(TQ_CHECK_CALL_DOC)
#undef TQ_CHECK_CALL_DOC

constexpr bool everyDocNamesOneRow()
{
    std::size_t docs = 0;
    for (std::span<const CallDoc> table : kCallDocTables)
        for (const CallDoc& d : table) {
            ++docs;
            if (!findCall(d.name))
                return false;
        }
    return docs == kCallCount; // with every row documented: one text per row
}
static_assert(everyDocNamesOneRow(), "protocol/rows/docs: a text names no export, or an export has two");

constexpr bool familiesInOrder()
{
    for (std::size_t i = 0; i < std::size(docs::kFamilies); ++i)
        if (docs::kFamilies[i].family != static_cast<Family>(i))
            return false;
    return std::size(docs::kFamilies) == static_cast<std::size_t>(Family::FileLists) + 1;
}
static_assert(familiesInOrder(), "protocol/rows/docs/shared.h: one family text per family, in the enum's order");

#define TQ_CHECK_CODE_DOC(name, value, header, text)                                               \
    static_assert(codeMeaning(value), "protocol/rows/docs/shared.h: result code " #value " has no meaning");
TQ_RESULT_CODES(TQ_CHECK_CODE_DOC)
#undef TQ_CHECK_CODE_DOC

} // namespace
} // namespace tqbse
