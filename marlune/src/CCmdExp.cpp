#include "marlune/CCmdExp.h"

#include <exception>

namespace marlune {

CCmdExp::CCmdExp(std::string_view text, std::string_view separator)
    : text_(text), separator_(separator)
{
}

std::string CCmdExp::GetNextItem()
{
    if (done_) {
        return {};
    }
    try {
        std::size_t cut = separator_.empty() ? std::string::npos : text_.find(separator_, pos_);
        const bool last = cut == std::string::npos;
        if (last) {
            cut = text_.size();
        }
        std::string item = text_.substr(pos_, cut - pos_);
        done_ = last || item.empty();
        pos_ = cut + separator_.size();
        return item;
    } catch (const std::exception&) {
        done_ = true;
        return {};
    }
}

} // namespace marlune
