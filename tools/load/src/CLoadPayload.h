#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace marlune {
class CMessageBase;
}

namespace quorvel::load {

// The messages the load generator sends and what it reads back from the
// server's. A measured message carries a mark in its text: "F<sender>S<seq>
// T<micros>", the sender's number, the message's number in its stream and
// its send time. The mark uses only letters and digits, so it is also a
// valid base64 text for a "trans-file" piece. Any thread; no state.
class CLoadPayload {
public:
    struct Mark {
        std::uint32_t sender = 0;
        std::uint64_t seq = 0;
        std::uint64_t micros = 0;
    };

    // A message built once by the message library with placeholders for
    // the target address and the text, cut around them, so each send only
    // pastes a target and a mark in between.
    class Template {
    public:
        Template() = default;
        // Builds `message`, whose target is TargetPlaceholder() and whose
        // text is Placeholder(). Not valid when the build fails or a
        // placeholder is not found.
        explicit Template(marlune::CMessageBase& message);
        bool Valid() const { return valid_; }
        // The payload to `target` carrying `mark`, appended to out.
        void AppendTo(std::string& out, std::string_view target, const Mark& mark) const;
        std::string With(std::string_view target, const Mark& mark) const;

    private:
        bool valid_ = false;
        std::string head_;
        std::string middle_;
        std::string tail_;
    };

    static constexpr std::string_view Placeholder() { return "QLOADMARKQ"; }
    static constexpr std::string_view TargetPlaceholder() { return "QLOADTARGETQ"; }

    // The mark's text, appended to out.
    static void AppendMark(std::string& out, const Mark& mark);
    // The mark in the text of a received message's body; false when there
    // is none.
    static bool ReadMark(std::string_view payload, Mark& mark);
    // The `type` attribute of the root element; "" when there is none.
    static std::string_view TypeOf(std::string_view payload);
    // The value of the first attribute `name` at or after `from`; "" when
    // there is none.
    static std::string_view Attribute(std::string_view payload, std::string_view name, std::size_t from = 0);
    // The last server of the routed list: the name of the server that
    // answered. "" when the list is empty.
    static std::string_view LastRoutedServer(std::string_view payload);
};

} // namespace quorvel::load
