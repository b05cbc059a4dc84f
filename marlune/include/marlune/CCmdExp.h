#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace marlune {

// Splits a text at a separator, one item per call. The walk ends at the
// first empty item: GetNextItem returns "" at the end of the text and for an
// empty item between two separators, so "a//b" yields "a" and then "", and
// "/a" yields "" at once.
// Not synchronised: one thread at a time may use an object.
class CCmdExp {
public:
    CCmdExp(std::string_view text, std::string_view separator);

    // The next item, or "" when the walk has ended.
    std::string GetNextItem();

private:
    std::string text_;
    std::string separator_;
    std::size_t pos_ = 0;
    bool done_ = false;
};

} // namespace marlune
